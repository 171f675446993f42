#pragma once
// ProxyScan: a scan of a client host that cannot run the scanner itself, driven from this (the
// proxy) host. The object lives in the proxy plug-in, libClProxy.so, which the scan job opens
// at run time and asks for one with createProxyScan.
//
// The calls, in order: the setters; Initialize (listens on an ephemeral port of the address
// that reaches the client host); StartClient (starts the client-side scanner with its launch
// command, which connects back); AcceptConnection; SendConfiguration; WaitForScan (items and
// failures go to the sink as they arrive); SendJobComplete; GetMessages. Every wait polls the
// sink's quit flag and the client process a few times a second and gives up after the timeout
// of Initialize without a word from the client; a quit ends it with code 995
// (kOperationAborted). Destroying the object ends the client process if it still runs.
//
// The plug-in is a library of its own: it links none of the scan library, so it shares with
// the job only this header, IProxyScanSink.h and the error value.
//
// Thread: one owner, one call at a time.
#include "Base/KxError.h"
#include "Proxy/IProxyScanSink.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct SProxyScanIdentity {
    std::int64_t jobId = 0;
    std::uint64_t referenceTime = 0;
    std::uint32_t backupType = 1;
};

struct SProxyScanCounts {
    std::uint64_t items = 0;
    std::uint64_t folders = 0;
    std::uint64_t failures = 0;
    std::uint64_t bytes = 0;
};

class ProxyScan {
public:
    static constexpr long kOperationAborted = 995;
    // WaitForScan: the client reported that its scan failed (GetMessages says why).
    static constexpr long kClientFailed = 20002;

    virtual ~ProxyScan() = default;

    virtual void setPreserveAccessTime(bool preserve) = 0;
    virtual void setNumberOfReadersPerVolume(int readers) = 0;
    virtual void setVTLBackup(bool vtl) = 0;

    [[nodiscard]] virtual CKxError Initialize(const std::string& clientHost, const SProxyScanIdentity& identity,
                                              std::chrono::milliseconds timeout) = 0;
    // The port Initialize listens on.
    virtual std::uint16_t GetPort() const = 0;
    // Starts `launch` followed by --connect <address>:<port> --root <root> --session <token>,
    // with standard output and error into `logFd` (not closed here).
    [[nodiscard]] virtual CKxError StartClient(const std::vector<std::string>& launch, const std::string& root,
                                               int logFd) = 0;
    [[nodiscard]] virtual CKxError AcceptConnection(IProxyScanSink& sink) = 0;
    [[nodiscard]] virtual CKxError SendConfiguration(
        const std::vector<std::pair<std::string, std::string>>& configuration) = 0;
    // Until the client says the scan is done (success) or failed (an error naming the failure;
    // its messages are in GetMessages).
    [[nodiscard]] virtual CKxError WaitForScan(IProxyScanSink& sink) = 0;
    [[nodiscard]] virtual CKxError SendJobComplete() = 0;
    virtual std::vector<std::string> GetMessages() const = 0;
    virtual SProxyScanCounts GetCounts() const = 0;
};

extern "C" ProxyScan* createProxyScan();
using CreateProxyScanFn = decltype(&createProxyScan);
inline constexpr const char* kCreateProxyScanSymbol = "createProxyScan";
inline constexpr const char* kProxyPluginLibrary = "libClProxy.so";
