#pragma once
// CScanJobProxyClient (type 16): the scan of a client host that cannot run this scanner
// (application type 38), driven from this host through the proxy plug-in libClProxy.so
// (Proxy/ProxyScan.h). The plug-in starts the client's scanner (fsproxyclient, or the
// subclient's "proxy.launch" command), which walks the client's folder and streams its items
// and failures back; the job turns them into the collect file of one output resource and the
// failure list, exactly as the backup phase and the job manager know them from a local scan.
//
// Configure is the base job's plus the alive thread: the content lies on the client, so none of
// the file-system job's content set-up applies. Run keeps the phase failed until the client's
// scan succeeded: every early return names its step and cause. A quit of the job (suspend or
// kill) during any wait ends it within a poll interval, without a failure. The job's results
// ("BackupResults.zvf", in the job results folder) and the client's log
// (<instance>/ProxyState/<host>/fsproxyclient.log) are described in docs/proxy-client.md.
//
// Thread: the driver's thread only; the plug-in calls the sink members back on it.
#include "Proxy/ProxyScan.h"
#include "Scan/ScanJobFileSystem.h"

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class CFlatCollectFile;
class CScanJobCallbackProxyClient;

class CScanJobProxyClient : public CScanJobFileSystem, private IProxyScanSink {
public:
    static constexpr const char* kResultsFileName = "BackupResults.zvf";
    static constexpr const char* kClientLogName = "fsproxyclient.log";
    static constexpr const char* kClientProgram = "fsproxyclient";
    static constexpr const char* kBackupAttStateFile = "BackupAttFlag.zvf";
    // Agent setting: the longest wait for the client's connection or its next message.
    static constexpr const char* kTimeoutSetting = "nProxyClientTimeout";
    static constexpr std::chrono::seconds kDefaultTimeout{600};

    CScanJobProxyClient();
    ~CScanJobProxyClient() override;

    std::string AsString() const override;
    [[nodiscard]] CKxError Configure() override;
    [[nodiscard]] CKxError Prepare() override;
    [[nodiscard]] CKxError Run() override;
    [[nodiscard]] CKxError Cleanup() override;

    // A disaster-recovery copy to VTL storage: nothing to scan.
    bool isVTLDRBackup() const { return m_vtlDisasterRecovery; }
    // The scan-failure list back: each failure not skipped from reporting by the error rules
    // becomes a "ScanFailure: Failed to Scan <path> due to error[<code>]" line.
    [[nodiscard]] CKxError ReportFailedFiles();
    // The proxy's state folder for the client host: <instance>/ProxyState/<host>/ (every byte of
    // the host name outside [A-Za-z0-9._-] becomes '_').
    static std::string StateFolder(const std::string& instanceFolder, const std::string& host);
    // With "proxy.setBackupDate": BackupAttFlag.zvf in the state folder, holding the time this
    // proxy first set the client's backup-date attribute (decimal seconds, no line end); an
    // existing file is left as it is.
    [[nodiscard]] CKxError CreateVMSBackupAttStateFile();
    // The scan configuration the client receives, in order.
    std::vector<std::pair<std::string, std::string>> ScanConfiguration() const;

private:
    // IProxyScanSink
    [[nodiscard]] CKxError OnItem(bool folder, std::string_view path, std::uint64_t size) override;
    [[nodiscard]] CKxError OnFailure(std::string_view line) override;
    bool ShouldQuit() override;

    [[nodiscard]] CKxError InitStoreResults();
    [[nodiscard]] CKxError LoadPlugin(std::unique_ptr<ProxyScan>& scan);
    [[nodiscard]] CKxError OpenCollectFile();
    [[nodiscard]] CKxError OpenClientLog(int& fd) const;
    [[nodiscard]] CKxError RunClientScan(ProxyScan& scan, CScanJobCallbackProxyClient& callback);
    [[nodiscard]] CKxError FlushCollectLines();
    // BackupResults.zvf: the client's counts and messages, and the failure ("": completed).
    [[nodiscard]] CKxError WriteResults(const SProxyScanCounts& counts, const std::vector<std::string>& messages,
                                        const std::string& failure);

    bool m_useMTime = true;
    bool m_useCTime = true;
    bool m_granularBackup = false;
    bool m_objectLevelBackup = false;
    bool m_vtlBackup = false;
    bool m_scanlessBackup = false;
    bool m_vtlDisasterRecovery = false;
    bool m_setBackupDate = false;
    bool m_allowMultipleReadersPerVolume = false;
    int m_numberOfReaders = 1;
    bool m_preserveAccessTime = false;
    std::string m_clientHost;
    std::string m_clientRoot;
    std::vector<std::string> m_launch;
    std::chrono::milliseconds m_timeout = kDefaultTimeout;
    std::string m_resultsFile;
    void* m_plugin = nullptr;  // dlopen handle, closed with the job
    std::shared_ptr<CFlatCollectFile> m_collect;
    std::string m_lines;  // collect lines not yet handed to m_collect
    std::uint64_t m_lineItems = 0, m_lineFolders = 0, m_lineBytes = 0;
};
