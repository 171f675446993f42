// fsproxyclient: the scanner on a client host that cannot run fsweep. The proxy plug-in on the
// proxy host starts it (locally, or through a remote shell in its launch command):
//
//   fsproxyclient --connect <address>:<port> --root <folder> --session <token> [--fail <message>]
//
// It connects back, says hello with the session token, receives the scan configuration, walks
// <folder> and streams every item below it and every failure in the proxy wire format
// (docs/proxy-client.md), then waits for the job-complete frame. A full backup (BackupType 1)
// sends every item; any other sends the folders and the files changed after RefTime (by
// modification and/or change time, as the configuration says). A file the client's user cannot
// read is a failure (code 13), not an item: the backup phase could not read it either.
// --fail reports that message as the scan's failure instead of scanning (an empty message: a
// failure without one).
//
// Exit status: 0 the scan was sent, 1 the scan failed (and the proxy was told), 2 the proxy
// could not be reached or the connection broke.
#include "Base/FileNameEscaping.h"
#include "Proxy/ProxyWireReader.h"
#include "Proxy/ProxyWireWriter.h"

#include <dirent.h>
#include <fcntl.h>
#include <netdb.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

struct SOptions {
    std::string connect;
    std::string root;
    std::string session;
    bool fail = false;
    std::string failMessage;
};

bool ParseOptions(int argc, char** argv, SOptions& options)
{
    for (int at = 1; at + 1 < argc; at += 2) {
        const std::string name = argv[at];
        std::string* value = name == "--connect" ? &options.connect
                             : name == "--root"  ? &options.root
                             : name == "--session" ? &options.session
                             : name == "--fail"    ? &options.failMessage
                                                   : nullptr;
        if (!value)
            return false;
        options.fail = options.fail || name == "--fail";
        *value = argv[at + 1];
    }
    return argc % 2 == 1 && !options.connect.empty() && !options.session.empty() &&
           (options.fail || !options.root.empty());
}

int Connect(const std::string& target)
{
    const std::size_t colon = target.rfind(':');
    if (colon == std::string::npos)
        return -1;
    std::string host = target.substr(0, colon);
    if (host.size() > 1 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), target.c_str() + colon + 1, &hints, &found) != 0)
        return -1;
    int fd = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, found->ai_addr, found->ai_addrlen) != 0) {
        ::close(fd);
        fd = -1;
    }
    ::freeaddrinfo(found);
    return fd;
}

// Blocks until the next frame; false when the connection ended or broke.
bool ReceiveFrame(int fd, CProxyWireReader& reader, SProxyFrame& frame)
{
    for (;;) {
        bool got = false;
        if (reader.Next(frame, got).IsError())
            return false;
        if (got)
            return true;
        char buffer[4096];
        const ssize_t received = ::recv(fd, buffer, sizeof buffer, 0);
        if (received < 0 && errno == EINTR)
            continue;
        if (received <= 0)
            return false;
        reader.Feed(buffer, static_cast<std::size_t>(received));
    }
}

class CWalker {
public:
    CWalker(CProxyWireWriter& out, const std::map<std::string, std::string>& configuration) : m_out(out)
    {
        const auto value = [&configuration](const char* name, const char* otherwise) {
            auto found = configuration.find(name);
            return found == configuration.end() ? std::string(otherwise) : found->second;
        };
        m_changedOnly = value("BackupType", "1") != "1";
        m_referenceTime = std::strtoll(value("RefTime", "0").c_str(), nullptr, 10);
        m_useMTime = value("m_bUseMTime", "yes") == "yes";
        m_useCTime = value("m_bUseCTime", "yes") == "yes";
        m_uid = ::geteuid();
        m_groups.resize(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
        m_groups.resize(static_cast<std::size_t>(std::max(::getgroups(static_cast<int>(m_groups.size()), m_groups.data()), 0)));
        m_groups.push_back(::getegid());
    }

    // Walks the folder `path` (opened as `fd`, which is taken); false when sending failed.
    bool Walk(int fd, std::string& path)
    {
        DIR* folder = ::fdopendir(fd);
        if (!folder) {
            ::close(fd);
            return Failure(true, path, errno);
        }
        bool sent = true;
        while (sent) {
            errno = 0;
            const dirent* entry = ::readdir(folder);
            if (!entry) {
                if (errno != 0)
                    sent = Failure(true, path, errno);
                break;
            }
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            const std::size_t keep = path.size();
            if (path.back() != '/')
                path.push_back('/');
            path.append(name);
            sent = Item(::dirfd(folder), name, path);
            path.resize(keep);
        }
        ::closedir(folder);
        return sent;
    }

    std::uint64_t Items() const { return m_items; }
    std::uint64_t Failures() const { return m_failures; }

private:
    bool Item(int folder, const char* name, std::string& path)
    {
        struct stat status{};
        if (::fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
            return Failure(false, path, errno);
        if (S_ISDIR(status.st_mode)) {
            if (!Send(ProxyWire::kFolder, path, 0))
                return false;
            const int inner = ::openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (inner < 0)
                return Failure(true, path, errno);
            return Walk(inner, path);
        }
        if (S_ISREG(status.st_mode) && !Readable(folder, name, status))
            return Failure(false, path, EACCES);
        if (m_changedOnly && !Changed(status))
            return true;
        return Send(ProxyWire::kFile, path, S_ISREG(status.st_mode) ? static_cast<std::uint64_t>(status.st_size) : 0);
    }

    // From the mode bits, with no call for the common case; only a file they refuse is asked
    // about again (an access list may still grant it).
    bool Readable(int folder, const char* name, const struct stat& status) const
    {
        if (m_uid == 0)
            return true;
        mode_t bit = S_IROTH;
        if (status.st_uid == m_uid)
            bit = S_IRUSR;
        else if (std::find(m_groups.begin(), m_groups.end(), status.st_gid) != m_groups.end())
            bit = S_IRGRP;
        return (status.st_mode & bit) != 0 || ::faccessat(folder, name, R_OK, AT_EACCESS) == 0;
    }

    bool Changed(const struct stat& status) const
    {
        return (m_useMTime && status.st_mtime > m_referenceTime) || (m_useCTime && status.st_ctime > m_referenceTime);
    }

    bool Send(char kind, const std::string& path, std::uint64_t size)
    {
        ++m_items;
        return m_out.AddItem(kind, path, size).IsSuccess();
    }

    bool Failure(bool folder, const std::string& path, int code)
    {
        ++m_failures;
        std::string line = folder ? "folder " : "file ";
        escapeFileNameAppend(path, line);
        line += ":" + std::to_string(code);
        return m_out.Send(ProxyWire::kFailure, line).IsSuccess();
    }

    CProxyWireWriter& m_out;
    bool m_changedOnly = false;
    long long m_referenceTime = 0;
    bool m_useMTime = true;
    bool m_useCTime = true;
    uid_t m_uid = 0;
    std::vector<gid_t> m_groups;
    std::uint64_t m_items = 0;
    std::uint64_t m_failures = 0;
};

std::string Counts(std::uint64_t items, std::uint64_t failures)
{
    std::string payload;
    CProxyWireWriter::AppendLittleEndian(payload, items, 8);
    CProxyWireWriter::AppendLittleEndian(payload, failures, 8);
    return payload;
}

}  // namespace

int main(int argc, char** argv)
{
    ::signal(SIGPIPE, SIG_IGN);
    SOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: fsproxyclient --connect <address>:<port> --root <folder> --session <token> "
                     "[--fail <message>]\n");
        return 2;
    }
    const int fd = Connect(options.connect);
    if (fd < 0) {
        std::fprintf(stderr, "fsproxyclient: cannot connect to %s: %s\n", options.connect.c_str(), std::strerror(errno));
        return 2;
    }
    CProxyWireWriter out(fd);
    CProxyWireReader in;
    SProxyFrame frame;
    std::vector<std::pair<std::string, std::string>> pairs;
    if (out.Send(ProxyWire::kHello, options.session).IsError() || !ReceiveFrame(fd, in, frame) ||
        frame.type != ProxyWire::kConfiguration || CProxyWireReader::ParseConfiguration(frame.payload, pairs).IsError()) {
        std::fprintf(stderr, "fsproxyclient: the proxy sent no scan configuration\n");
        return 2;
    }
    const std::map<std::string, std::string> configuration(pairs.begin(), pairs.end());

    int status = 0;
    bool sent = true;
    if (options.fail) {
        if (!options.failMessage.empty())
            sent = out.Send(ProxyWire::kMessage, options.failMessage).IsSuccess();
        sent = sent && out.Send(ProxyWire::kFailed, {}).IsSuccess();
        status = 1;
    } else {
        const int root = ::open(options.root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (root < 0) {
            const std::string message = "Cannot open " + options.root + ": " + std::strerror(errno);
            sent = out.Send(ProxyWire::kMessage, message).IsSuccess() && out.Send(ProxyWire::kFailed, {}).IsSuccess();
            status = 1;
        } else {
            CWalker walker(out, configuration);
            std::string path = options.root;
            while (path.size() > 1 && path.back() == '/')
                path.pop_back();
            sent = walker.Walk(root, path) &&
                   out.Send(ProxyWire::kDone, Counts(walker.Items(), walker.Failures())).IsSuccess();
            std::fprintf(stderr, "fsproxyclient: %s: %llu items, %llu failures\n", options.root.c_str(),
                         static_cast<unsigned long long>(walker.Items()),
                         static_cast<unsigned long long>(walker.Failures()));
        }
    }
    if (!sent) {
        std::fprintf(stderr, "fsproxyclient: the connection to the proxy broke: %s\n", std::strerror(errno));
        return 2;
    }
    // The proxy ends the session; its closing the connection does too.
    while (ReceiveFrame(fd, in, frame) && frame.type != ProxyWire::kJobComplete) {
    }
    ::close(fd);
    return status;
}
