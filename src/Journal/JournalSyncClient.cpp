#include "Journal/JournalSyncClient.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "Agent/InstancePaths.h"
#include "Base/FXPath.h"
#include "Base/FileNameEscaping.h"
#include "Journal/JournalFormat.h"

namespace {

constexpr size_t kMaxAnswer = 4096;

class CFd {
public:
    explicit CFd(int fd) : m_fd(fd) {}
    ~CFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int Get() const { return m_fd; }

private:
    int m_fd;
};

// Splits off the next blank-separated field of `rest`.
std::string_view Field(std::string_view& rest)
{
    const size_t blank = rest.find(' ');
    std::string_view field = rest.substr(0, blank);
    rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
    return field;
}

int RemainingMs(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

std::string CJournalSyncClient::SocketPath(const std::string& instance)
{
    const std::string folder =
        instance.find('/') == std::string::npos ? FXPath::Append(CInstancePaths::Root(), instance) : instance;
    return FXPath::Append(FXPath::Append(folder, "run"), JournalFormat::kSocketName);
}

CKxError CJournalSyncClient::ParseAnswer(const std::string& line, SJournalSyncPoint& out)
{
    out = SJournalSyncPoint();
    std::string_view rest = line;
    const std::string_view verb = Field(rest);
    if (verb == "unknown" && rest.empty()) {
        out.state = SJournalSyncPoint::Unknown;
        return CKxError::Success();
    }
    if (verb == "ok" || verb == "broken") {
        out.state = verb == "ok" ? SJournalSyncPoint::Ok : SJournalSyncPoint::Broken;
        out.runId = Field(rest);
        const bool numbers = JournalFormat::ParseDecimal(Field(rest), out.sequence) &&
                             JournalFormat::ParseDecimal(Field(rest), out.offset);
        const bool tailFits = out.state == SJournalSyncPoint::Ok ? rest.empty() : !rest.empty();
        if (JournalFormat::IsRunId(out.runId) && numbers && out.sequence > 0 && tailFits) {
            out.cause = rest;
            return CKxError::Success();
        }
    }
    out = SJournalSyncPoint();
    return CKxError(KxCode::InvalidData, "Unexpected answer from the change-journal daemon [" +
                                             escapeFileName(std::string_view(line).substr(0, 200)) + "]");
}

CKxError CJournalSyncClient::Sync(const std::string& instance, const std::string& resultsFolder, int timeoutMs,
                                  SJournalSyncPoint& out)
{
    out = SJournalSyncPoint();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::string socketPath = SocketPath(instance);
    CFd sock(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (sock.Get() < 0)
        return CKxError::FromErrno(errno, "socket failed for the change-journal daemon");

    // A socket path longer than sun_path is reached through a descriptor of its folder.
    sockaddr_un sa {};
    const bool viaFolder = socketPath.size() >= sizeof sa.sun_path;
    CFd runFolder(viaFolder ? ::open(FXPath::Parent(socketPath).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC) : -1);
    if (viaFolder && runFolder.Get() < 0) {
        out.cause = "no daemon socket [" + socketPath + "]: " + std::strerror(errno);
        return CKxError::Success();
    }
    const std::string address =
        viaFolder ? "/proc/self/fd/" + std::to_string(runFolder.Get()) + "/" + JournalFormat::kSocketName : socketPath;
    sa.sun_family = AF_UNIX;
    std::memcpy(sa.sun_path, address.c_str(), address.size() + 1);
    if (::connect(sock.Get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        if (errno != EINPROGRESS) {
            out.cause = "no daemon at [" + socketPath + "]: " + std::strerror(errno);
            return CKxError::Success();
        }
        pollfd p {sock.Get(), POLLOUT, 0};
        int soError = 0;
        socklen_t len = sizeof soError;
        if (::poll(&p, 1, RemainingMs(deadline)) <= 0 ||
            ::getsockopt(sock.Get(), SOL_SOCKET, SO_ERROR, &soError, &len) != 0 || soError != 0) {
            out.cause = "no daemon at [" + socketPath + "]: the connection was not accepted in time";
            return CKxError::Success();
        }
    }
    ucred peer {};
    socklen_t peerLen = sizeof peer;
    if (::getsockopt(sock.Get(), SOL_SOCKET, SO_PEERCRED, &peer, &peerLen) != 0 ||
        (peer.uid != 0 && peer.uid != ::geteuid())) {
        out.cause = "the process at [" + socketPath + "] is not run by root (uid " + std::to_string(peer.uid) + ")";
        return CKxError::Success();
    }

    std::string request = "sync ";
    escapeFileNameAppend(FXPath::TrimTrailingSlashes(resultsFolder), request);
    request += '\n';
    std::string answer;
    size_t sent = 0;
    while (answer.find('\n') == std::string::npos) {
        const bool sending = sent < request.size();
        pollfd p {sock.Get(), static_cast<short>(sending ? POLLOUT : POLLIN), 0};
        const int ready = ::poll(&p, 1, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            out.cause = KxFormat("the daemon at [%s] did not answer within %d ms", socketPath.c_str(), timeoutMs);
            return CKxError::Success();
        }
        if (sending) {
            const ssize_t n = ::send(sock.Get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n < 0 && errno != EINTR && errno != EAGAIN) {
                out.cause = "the daemon at [" + socketPath + "] closed the connection: " + std::strerror(errno);
                return CKxError::Success();
            }
            sent += n > 0 ? static_cast<size_t>(n) : 0;
            continue;
        }
        char buffer[512];
        const ssize_t n = ::recv(sock.Get(), buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
            out.cause = "the daemon at [" + socketPath + "] closed the connection without an answer";
            return CKxError::Success();
        }
        if (n > 0)
            answer.append(buffer, static_cast<size_t>(n));
        if (answer.size() > kMaxAnswer)
            break;
    }
    const size_t newline = answer.find('\n');
    return ParseAnswer(answer.substr(0, newline), out);
}
