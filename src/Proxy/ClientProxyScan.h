#pragma once
// CClientProxyScan: the proxy plug-in's ProxyScan (ProxyScan.h) over the proxy wire
// (ProxyWire.h): a listening socket on the proxy host, a client process it starts and watches,
// and the one connection that client makes back.
//
// A connection whose first frame is not the hello with this scan's session token (a random
// 128-bit number handed to the client on its command line), or says nothing for
// kHelloTimeout, is dropped and the wait goes on: another local user cannot pose as the client. The client's exit is noticed within a poll
// interval: before it connected the wait fails at once, after it the connection is read to its
// end first (what the client sent before it died still counts) and then fails.
//
// Thread: one owner.
#include "Proxy/ProxyScan.h"
#include "Proxy/ProxyWireReader.h"

#include <sys/types.h>

#include <chrono>
#include <memory>

class CProxyWireWriter;

class CClientProxyScan : public ProxyScan {
public:
    static constexpr std::chrono::milliseconds kPollInterval{200};
    // The longest a new connection may take to say hello before it is dropped.
    static constexpr std::chrono::milliseconds kHelloTimeout{5000};

    CClientProxyScan();
    ~CClientProxyScan() override;

    void setPreserveAccessTime(bool preserve) override { m_preserveAccessTime = preserve; }
    void setNumberOfReadersPerVolume(int readers) override { m_readers = readers; }
    // The configuration's "VTLBackup" pair tells the client; nothing changes on this side.
    void setVTLBackup(bool) override {}

    [[nodiscard]] CKxError Initialize(const std::string& clientHost, const SProxyScanIdentity& identity,
                                      std::chrono::milliseconds timeout) override;
    std::uint16_t GetPort() const override { return m_port; }
    [[nodiscard]] CKxError StartClient(const std::vector<std::string>& launch, const std::string& root,
                                       int logFd) override;
    [[nodiscard]] CKxError AcceptConnection(IProxyScanSink& sink) override;
    [[nodiscard]] CKxError SendConfiguration(
        const std::vector<std::pair<std::string, std::string>>& configuration) override;
    [[nodiscard]] CKxError WaitForScan(IProxyScanSink& sink) override;
    [[nodiscard]] CKxError SendJobComplete() override;
    std::vector<std::string> GetMessages() const override { return m_messages; }
    SProxyScanCounts GetCounts() const override { return m_counts; }

private:
    using Clock = std::chrono::steady_clock;

    // One poll of `fd` for input, at most kPollInterval; then the quit flag, the client process
    // and the timeout are checked (at most every kPollInterval, also while data flows).
    [[nodiscard]] CKxError Await(int fd, IProxyScanSink& sink, bool& readable);
    // The next frame of the connection.
    [[nodiscard]] CKxError Receive(IProxyScanSink& sink, SProxyFrame& frame);
    [[nodiscard]] CKxError TakeItems(std::string_view records, IProxyScanSink& sink);
    // Notes the client's exit once it happened; true while it runs.
    bool ClientRunning();
    std::string ClientExitText() const;
    void StopClient();
    void CloseConnection();

    bool m_preserveAccessTime = false;
    int m_readers = 1;
    SProxyScanIdentity m_identity;
    std::chrono::milliseconds m_timeout{0};
    std::string m_address;  // the proxy's address as the client reaches it
    std::uint16_t m_port = 0;
    std::string m_session;
    int m_listenFd = -1;
    int m_connectionFd = -1;
    pid_t m_client = -1;
    int m_clientStatus = -1;  // waitpid status once the client exited
    bool m_clientExited = false;
    Clock::time_point m_lastHeard;
    Clock::time_point m_nextCheck;
    Clock::time_point m_clientExitSeen;
    CProxyWireReader m_reader;
    std::unique_ptr<CProxyWireWriter> m_writer;
    std::vector<std::string> m_messages;
    SProxyScanCounts m_counts;
};
