#include "Proxy/ClientProxyScan.h"

#include "Proxy/ProxyWireWriter.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <thread>

namespace {

// The local address this host uses to reach `host`: what the client connects back to. A UDP
// socket's connect only picks the route; nothing is sent.
CKxError LocalAddressFor(const std::string& host, sockaddr_storage& local, socklen_t& length)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int resolved = ::getaddrinfo(host.c_str(), "9", &hints, &found);
    if (resolved != 0)
        return CKxError(KxCode::NotFound, KxFormat("Cannot resolve client host '%s': %s", host.c_str(),
                                                   ::gai_strerror(resolved)));
    CKxError result;
    const int probe = ::socket(found->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    length = sizeof local;
    if (probe < 0 || ::connect(probe, found->ai_addr, found->ai_addrlen) != 0 ||
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        result = CKxError::FromErrno(errno, KxFormat("No route to client host '%s'", host.c_str()));
    if (probe >= 0)
        ::close(probe);
    ::freeaddrinfo(found);
    return result;
}

std::string AddressText(const sockaddr_storage& address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6) {
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, text, sizeof text);
        return std::string("[") + text + "]";
    }
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text, sizeof text);
    return text;
}

CKxError SessionToken(std::string& token)
{
    unsigned char bytes[16];
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
        return CKxError::FromErrno(errno, "Failed to draw the session token");
    token.clear();
    for (unsigned char byte : bytes)
        token += KxFormat("%02x", byte);
    return CKxError::Success();
}

}  // namespace

extern "C" ProxyScan* createProxyScan() { return new (std::nothrow) CClientProxyScan(); }

CClientProxyScan::CClientProxyScan() = default;

CClientProxyScan::~CClientProxyScan()
{
    CloseConnection();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    StopClient();
}

CKxError CClientProxyScan::Initialize(const std::string& clientHost, const SProxyScanIdentity& identity,
                                      std::chrono::milliseconds timeout)
{
    m_identity = identity;
    m_timeout = timeout;
    sockaddr_storage local{};
    socklen_t length = 0;
    KX_RETURN_IF_ERROR(LocalAddressFor(clientHost, local, length));
    KX_RETURN_IF_ERROR(SessionToken(m_session));
    m_listenFd = ::socket(local.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listenFd < 0)
        return CKxError::FromErrno(errno, "Failed to create the listening socket");
    reinterpret_cast<sockaddr_in&>(local).sin_port = 0;  // same place in sockaddr_in6
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&local), length) != 0 || ::listen(m_listenFd, 4) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return CKxError::FromErrno(errno, KxFormat("Failed to listen on %s", AddressText(local).c_str()));
    m_address = AddressText(local);
    m_port = ntohs(reinterpret_cast<sockaddr_in&>(local).sin_port);
    return CKxError::Success();
}

CKxError CClientProxyScan::StartClient(const std::vector<std::string>& launch, const std::string& root, int logFd)
{
    if (launch.empty() || launch[0].empty())
        return CKxError(KxCode::InvalidParameter, "The client's launch command is empty");
    std::vector<std::string> words = launch;
    for (const char* extra : {"--connect", "", "--root", "", "--session", ""})
        words.emplace_back(extra);
    const std::size_t first = launch.size();
    words[first + 1] = m_address + ":" + std::to_string(m_port);
    words[first + 3] = root;
    words[first + 5] = m_session;
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, logFd, 1);
    ::posix_spawn_file_actions_adddup2(&actions, logFd, 2);
    // Nothing of the job's open files reaches the client.
    ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    // A group of its own, so that ending the client ends what it started too (a remote shell).
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    ::posix_spawnattr_setpgroup(&attributes, 0);
    pid_t child = -1;
    const int spawned = ::posix_spawnp(&child, argv[0], &actions, &attributes, argv.data(), environ);
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return CKxError::FromErrno(spawned, KxFormat("Failed to start the client [%s]", launch[0].c_str()));
    m_client = child;
    m_clientExited = false;
    return CKxError::Success();
}

bool CClientProxyScan::ClientRunning()
{
    if (m_client > 0) {
        int status = 0;
        if (::waitpid(m_client, &status, WNOHANG) == m_client) {
            m_clientStatus = status;
            m_clientExited = true;
            m_clientExitSeen = Clock::now();
            m_client = -1;
        }
    }
    return !m_clientExited;
}

std::string CClientProxyScan::ClientExitText() const
{
    if (WIFEXITED(m_clientStatus))
        return KxFormat("the client process exited with status %d", WEXITSTATUS(m_clientStatus));
    if (WIFSIGNALED(m_clientStatus))
        return KxFormat("the client process was killed by signal %d", WTERMSIG(m_clientStatus));
    return "the client process ended";
}

void CClientProxyScan::StopClient()
{
    if (m_client <= 0)
        return;
    const pid_t group = m_client;
    ::kill(-group, SIGTERM);
    for (int tries = 0; tries < 50 && ClientRunning(); ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ::kill(-group, SIGKILL);  // whatever of the group is left
    if (m_client > 0) {
        int status = 0;
        while (::waitpid(m_client, &status, 0) < 0 && errno == EINTR) {
        }
        m_client = -1;
    }
}

void CClientProxyScan::CloseConnection()
{
    m_writer.reset();
    if (m_connectionFd >= 0)
        ::close(m_connectionFd);
    m_connectionFd = -1;
    m_reader = CProxyWireReader();
}

CKxError CClientProxyScan::Await(int fd, IProxyScanSink& sink, bool& readable)
{
    pollfd entry{fd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(kPollInterval.count()));
    if (ready < 0 && errno != EINTR)
        return CKxError::FromErrno(errno, "Failed to wait for the client");
    readable = ready > 0;
    const Clock::time_point now = Clock::now();
    if (readable && now < m_nextCheck)
        return CKxError::Success();
    m_nextCheck = now + kPollInterval;
    if (sink.ShouldQuit())
        return CKxError(kOperationAborted, "Job is suspended or killed.");
    if (!readable && now - m_lastHeard > m_timeout)
        return CKxError(ETIMEDOUT,
                        KxFormat("No word from the client for %lld s (the proxy timeout)",
                                 static_cast<long long>(
                                     std::chrono::duration_cast<std::chrono::seconds>(m_timeout).count())));
    return CKxError::Success();
}

CKxError CClientProxyScan::AcceptConnection(IProxyScanSink& sink)
{
    m_lastHeard = Clock::now();
    for (;;) {
        bool readable = false;
        KX_RETURN_IF_ERROR(Await(m_listenFd, sink, readable));
        if (!readable) {
            if (!ClientRunning())
                return CKxError(ECONNABORTED,
                                KxFormat("The client never connected: %s", ClientExitText().c_str()));
            continue;
        }
        const int connection = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            if (errno == EAGAIN || errno == EINTR || errno == ECONNABORTED)
                continue;
            return CKxError::FromErrno(errno, "Failed to accept the client's connection");
        }
        CloseConnection();
        m_connectionFd = connection;
        // A connection that says nothing must not hold the door for the real client for long.
        const std::chrono::milliseconds timeout = m_timeout;
        m_timeout = std::min(m_timeout, kHelloTimeout);
        const Clock::time_point waitingSince = m_lastHeard;
        m_lastHeard = Clock::now();
        SProxyFrame hello;
        CKxError received = Receive(sink, hello);
        m_timeout = timeout;
        if (received.IsError())
            m_lastHeard = waitingSince;
        if (received.Code() == kOperationAborted)
            return received;
        if (received.IsSuccess() && hello.type == ProxyWire::kHello && hello.payload == m_session) {
            m_writer = std::make_unique<CProxyWireWriter>(m_connectionFd);
            return CKxError::Success();
        }
        // Not our client (or a client that broke off): wait for the right one.
        CloseConnection();
    }
}

CKxError CClientProxyScan::Receive(IProxyScanSink& sink, SProxyFrame& frame)
{
    for (;;) {
        bool got = false;
        KX_RETURN_IF_ERROR(m_reader.Next(frame, got));
        if (got)
            return CKxError::Success();
        bool readable = false;
        KX_RETURN_IF_ERROR(Await(m_connectionFd, sink, readable));
        if (!readable) {
            // A client that died leaves its connection to end; one held open by a process it
            // started (a remote shell) may not: a few quiet seconds after the exit end the wait.
            if (!ClientRunning() && Clock::now() - m_clientExitSeen > std::chrono::seconds(2))
                return CKxError(ECONNABORTED,
                                KxFormat("The scan on the client did not end: %s", ClientExitText().c_str()));
            continue;
        }
        char buffer[256 << 10];
        const ssize_t received = ::recv(m_connectionFd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (received < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        // A client that died with data of ours unread resets the connection instead of ending it.
        if (received < 0 && errno != ECONNRESET)
            return CKxError::FromErrno(errno, "Failed to read from the client");
        if (received <= 0) {
            // The client's exit, if that is why the connection ended, is a moment behind.
            for (int tries = 0; tries < 50 && ClientRunning() && m_client > 0; ++tries)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            return CKxError(ECONNABORTED,
                            KxFormat("The client closed the connection before the scan ended%s%s",
                                     m_clientExited ? ": " : "", m_clientExited ? ClientExitText().c_str() : ""));
        }
        m_lastHeard = Clock::now();
        m_reader.Feed(buffer, static_cast<std::size_t>(received));
    }
}

CKxError CClientProxyScan::SendConfiguration(const std::vector<std::pair<std::string, std::string>>& configuration)
{
    if (!m_writer)
        return CKxError(KxCode::InvalidParameter, "No client connection");
    std::string payload;
    const auto add = [&payload](const std::string& name, const std::string& value) {
        payload.append(name).push_back('\0');
        payload.append(value).push_back('\0');
    };
    add("JobId", std::to_string(m_identity.jobId));
    add("RefTime", std::to_string(m_identity.referenceTime));
    add("BackupType", std::to_string(m_identity.backupType));
    add("ReadersPerVolume", std::to_string(m_readers));
    add("PreserveAccessTime", m_preserveAccessTime ? "1" : "0");
    for (const auto& [name, value] : configuration)
        add(name, value);
    if (payload.size() > ProxyWire::kMaxPayload)
        return CKxError(KxCode::InvalidParameter, "The scan configuration is too large to send");
    return m_writer->Send(ProxyWire::kConfiguration, payload);
}

CKxError CClientProxyScan::TakeItems(std::string_view records, IProxyScanSink& sink)
{
    while (!records.empty()) {
        SProxyItem item;
        KX_RETURN_IF_ERROR(CProxyWireReader::NextItem(records, item));
        const bool folder = item.kind == ProxyWire::kFolder;
        KX_RETURN_IF_ERROR(sink.OnItem(folder, item.path, item.size));
        ++m_counts.items;
        m_counts.folders += folder ? 1 : 0;
        m_counts.bytes += folder ? 0 : item.size;
    }
    return CKxError::Success();
}

CKxError CClientProxyScan::WaitForScan(IProxyScanSink& sink)
{
    if (!m_writer)
        return CKxError(KxCode::InvalidParameter, "No client connection");
    for (;;) {
        SProxyFrame frame;
        KX_RETURN_IF_ERROR(Receive(sink, frame));
        switch (frame.type) {
        case ProxyWire::kItems: KX_RETURN_IF_ERROR(TakeItems(frame.payload, sink)); break;
        case ProxyWire::kFailure:
            KX_RETURN_IF_ERROR(sink.OnFailure(frame.payload));
            ++m_counts.failures;
            break;
        case ProxyWire::kMessage: m_messages.emplace_back(frame.payload); break;
        case ProxyWire::kFailed: return CKxError(kClientFailed, "The client reported that its scan failed");
        case ProxyWire::kDone: {
            std::uint64_t items = 0, failures = 0;
            KX_RETURN_IF_ERROR(CProxyWireReader::ParseDone(frame.payload, items, failures));
            if (items != m_counts.items || failures != m_counts.failures)
                return CKxError(KxCode::InvalidData,
                                KxFormat("The client sent %llu items and %llu failures but counted %llu and %llu",
                                         static_cast<unsigned long long>(m_counts.items),
                                         static_cast<unsigned long long>(m_counts.failures),
                                         static_cast<unsigned long long>(items),
                                         static_cast<unsigned long long>(failures)));
            return CKxError::Success();
        }
        default:
            return CKxError(KxCode::InvalidData, KxFormat("Unexpected frame '%c' from the client", frame.type));
        }
    }
}

CKxError CClientProxyScan::SendJobComplete()
{
    if (!m_writer)
        return CKxError(KxCode::InvalidParameter, "No client connection");
    CKxError sent = m_writer->Send(ProxyWire::kJobComplete, {});
    CloseConnection();
    // A client that ends on its own after the job-complete frame is not killed.
    for (int tries = 0; tries < 100 && m_client > 0 && ClientRunning(); ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return sent;
}
