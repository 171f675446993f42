#include "Scan/ScanJobProxyClient.h"

#include "Agent/ApplicationId.h"
#include "Agent/InstancePaths.h"
#include "Agent/Subclient.h"
#include "Agent/ZVPlatformInfo.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/FileNameEscaping.h"
#include "Base/LogWriter.h"
#include "CollectFile/FlatCollectFile.h"
#include "Proxy/ProxyScan.h"
#include "Scan/FileNameFactory.h"
#include "Scan/FileSystemScanFailureConsumer.h"
#include "Scan/OutputResources.h"
#include "Scan/ScanJobCallbackProxyClient.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/ZvErrorControl.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cctype>
#include <climits>
#include <cstring>
#include <ctime>
#include <fstream>

namespace {
namespace Id = SXScannerConfigurationBagId;

constexpr const char* kAgentSection = "FileSystemAgent";
// Collect lines are handed to the collect file in runs of about this many bytes.
constexpr std::size_t kLineRun = 256u << 10;

const char* YesNo(bool value) { return value ? "yes" : "no"; }
const char* OneZero(bool value) { return value ? "1" : "0"; }

// The folder of this library: the agent's home, where its plug-ins lie.
std::string LibraryFolder()
{
    Dl_info self{};
    if (::dladdr(reinterpret_cast<void*>(&LibraryFolder), &self) != 0 && self.dli_fname)
        return FXPath::Parent(self.dli_fname);
    return ".";
}

std::string ProgramFolder()
{
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? FXPath::Parent(std::string(path, static_cast<std::size_t>(length))) : ".";
}

std::shared_ptr<CFileSystemScanFailureConsumer> FailureList(CScanJobCallback& callback)
{
    CScanFailureConsumerPtr consumer;
    if (callback.GetScanFailureConsumer(consumer).IsError())
        return nullptr;
    return std::dynamic_pointer_cast<CFileSystemScanFailureConsumer>(consumer);
}

}  // namespace

CScanJobProxyClient::CScanJobProxyClient() = default;

CScanJobProxyClient::~CScanJobProxyClient()
{
    if (m_plugin)
        ::dlclose(m_plugin);
}

std::string CScanJobProxyClient::AsString() const { return "ScanJob/ProxyClient"; }

std::string CScanJobProxyClient::StateFolder(const std::string& instanceFolder, const std::string& host)
{
    std::string name = host;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-')
            c = '_';
    if (name.empty() || name == "." || name == "..")
        name = "_";
    return FXPath::Append(FXPath::Append(instanceFolder, "ProxyState"), name);
}

CKxError CScanJobProxyClient::Configure()
{
    FSTRACE();
    KX_RETURN_IF_ERROR(CScanJob::Configure());
    KX_RETURN_IF_ERROR(StartAliveThread());

    ApplicationId application(m_applicationId);
    std::shared_ptr<Subclient> subclient = application.getSubclient();
    if (!subclient) {
        FSLOG(0, "getSubclientConf failed, we would use default TRUE for mtime and ctime");
    } else {
        const SubclientData& data = subclient->Data();
        m_useMTime = data.useMtime;
        m_useCTime = data.useCtime;
        m_allowMultipleReadersPerVolume = data.multipleReadsPerDisk;
        m_numberOfReaders = m_allowMultipleReadersPerVolume ? static_cast<int>(data.numStreams) : 1;
        m_preserveAccessTime = data.preserveAccessTimes;
        m_clientHost = data.proxyHost;
        m_clientRoot = data.proxyRoot;
        m_launch = data.proxyLaunch;
        m_vtlDisasterRecovery = data.proxyVtlDisasterRecovery;
        m_setBackupDate = data.proxySetBackupDate;
        m_vtlBackup = m_vtlBackup || m_vtlDisasterRecovery;
    }
    if (!m_useMTime && !m_useCTime) {
        FSLOG(0, "Subclient suggests both UseMTime and UseCTime are false, will use MTime");
        m_useMTime = true;
    }
    if (m_vtlDisasterRecovery) {
        FSLOG(0, "DR backup is using VTL storage policy, scan is not needed.");
    } else if (m_clientHost.empty() || m_clientRoot.empty()) {
        return CKxError(KxCode::BadConfiguration,
                        KxFormat("The subclient names no proxy client: key \"subclient.proxy.%s\" is missing",
                                 m_clientHost.empty() ? "host" : "root"));
    }
    if (m_launch.empty())
        m_launch = {FXPath::Append(ProgramFolder(), kClientProgram)};
    std::uint32_t seconds = 0;
    if (ZVPlatformInfo::getNumber(kAgentSection, kTimeoutSetting, seconds) && seconds > 0)
        m_timeout = std::chrono::seconds(seconds);

    KX_RETURN_IF_ERROR(m_callback->ConfigureScanFailureConsumerErrorCtrl(m_applicationId));
    KX_RETURN_IF_ERROR(InitStoreResults());
    FSLOG(0,
          "clientHost:%s: m_bUseMTime:%d m_bUseCTime:%d refTime:%lu objLevelBackup:%s VTLBackup:%s ScanlessBackup %s "
          "SetBackupDateAttribute:%s",
          m_clientHost.c_str(), m_useMTime, m_useCTime, static_cast<unsigned long>(GetReferenceTime()),
          YesNo(m_objectLevelBackup), YesNo(m_vtlBackup), YesNo(m_scanlessBackup), YesNo(m_setBackupDate));
    return CKxError::Success();
}

// Nothing to prepare here: the previous job's state lies on the client.
CKxError CScanJobProxyClient::Prepare() { return CKxError::Success(); }

CKxError CScanJobProxyClient::InitStoreResults()
{
    FSLOG(0, "Setting up Backup results");
    m_resultsFile = FXPath::Append(m_jobResultsFolder, kResultsFileName);
    FSLOG(0, "Setting up Backup results file '%s'", m_resultsFile.c_str());
    CKxError folder = EnsureFolder(m_jobResultsFolder);
    if (folder.IsError())
        return std::move(folder.Push(KxFormat("Failed to open backup results for Job=%lld",
                                              static_cast<long long>(m_jobId))));
    return CKxError::Success();
}

std::vector<std::pair<std::string, std::string>> CScanJobProxyClient::ScanConfiguration() const
{
    return {{"m_bUseMTime", YesNo(m_useMTime)},
            {"m_bUseCTime", YesNo(m_useCTime)},
            {"GranularBackup", OneZero(m_granularBackup)},
            {"IBMI:ObjectLevelBackup", OneZero(m_objectLevelBackup)},
            {"VTLBackup", OneZero(m_vtlBackup)},
            {"ScanlessBackup", OneZero(m_scanlessBackup)}};
}

CKxError CScanJobProxyClient::LoadPlugin(std::unique_ptr<ProxyScan>& scan)
{
    const std::string path = FXPath::Append(LibraryFolder(), kProxyPluginLibrary);
    if (!m_plugin)
        m_plugin = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_plugin)
        return CKxError(KxCode::NotFound, KxFormat("Failed to load the proxy plug-in %s: %s", kProxyPluginLibrary,
                                                   ::dlerror()));
    auto create = reinterpret_cast<CreateProxyScanFn>(::dlsym(m_plugin, kCreateProxyScanSymbol));
    if (create)
        scan.reset(create());
    if (!scan)
        return CKxError(KxCode::NotFound, "Failed to create instance of ProxyScan object");
    return CKxError::Success();
}

CKxError CScanJobProxyClient::CreateVMSBackupAttStateFile()
{
    const std::string folder = StateFolder(CInstancePaths::InstanceFolder(), m_clientHost);
    const std::string path = KxFormat("%s/%s", folder.c_str(), kBackupAttStateFile);
    if (FXFile::Exists(path)) {
        FSLOG(0, "VMSBackupAtt State file [%s] already exists. Skipping its creation.", path.c_str());
        return CKxError::Success();
    }
    if (!FXFile::IsDirectory(folder)) {
        FSLOG(0, "destination folder does not exists. will create %s", folder.c_str());
        if (CKxError made = FXFile::CreateDirectories(folder, 0700); made.IsError())
            return std::move(made.Push(KxFormat("mkdir [%s] failed", folder.c_str())));
    }
    const auto now = static_cast<unsigned>(std::time(nullptr));
    if (CKxError written = FXFile::WriteFileAtomically(path, std::to_string(now)); written.IsError())
        return std::move(written.Push(KxFormat("Failed to open state file [%s] for writing", path.c_str())));
    FSLOG(0, "current time [%u] written on the file", now);
    FSLOG(0, "VMSBackupAtt State File [%s] successfully created.", path.c_str());
    return CKxError::Success();
}

CKxError CScanJobProxyClient::OpenCollectFile()
{
    m_collect = std::make_shared<CFlatCollectFile>(m_jobId, m_fileNameFactory->WorkUnitCollect(1), m_clientRoot);
    KX_RETURN_IF_ERROR(m_collect->Open());
    auto resource = std::make_shared<COutputResources>(1, m_clientRoot, "proxy:" + m_clientHost);
    resource->SetCollectConsumer(m_collect);
    m_callback->AddOutputResource(resource);
    return CKxError::Success();
}

CKxError CScanJobProxyClient::OpenClientLog(int& fd) const
{
    const std::string folder = StateFolder(CInstancePaths::InstanceFolder(), m_clientHost);
    KX_RETURN_IF_ERROR(FXFile::CreateDirectories(folder, 0700));
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folderFd < 0)
        return CKxError::FromErrno(errno, KxFormat("Failed to open the proxy state folder %s", folder.c_str()));
    // Emptied only once it is known to be our own plain file: a FIFO, a device or a hard link to
    // someone else's file put in its place is refused, never waited on or truncated.
    fd = ::openat(folderFd, kClientLogName, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    const int error = errno;
    ::close(folderFd);
    if (fd < 0)
        return CKxError::FromErrno(error, KxFormat("Failed to open the client log %s/%s", folder.c_str(), kClientLogName));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != ::geteuid() ||
        ::ftruncate(fd, 0) != 0 || ((st.st_mode & 077) != 0 && ::fchmod(fd, 0600) != 0)) {
        ::close(fd);
        fd = -1;
        return CKxError(KxCode::AccessDenied, KxFormat("Refused the client log %s/%s: not a plain file of this agent",
                                                       folder.c_str(), kClientLogName));
    }
    return CKxError::Success();
}

CKxError CScanJobProxyClient::Run()
{
    FSTRACE();
    // The phase counts as failed until the client's scan succeeded.
    m_failPhase = true;
    SetFailJob(false);
    auto callback = std::dynamic_pointer_cast<CScanJobCallbackProxyClient>(m_callback);
    if (!callback)
        return CKxError(KxCode::InvalidParameter, "Can't cast m_ptrScanJobCallback to CScanJobCallbackProxyClient");
    CBagPtr bag = GetConfigurationBag();
    if (!bag)
        return CKxError(KxCode::InvalidParameter, "Configuration is not set");
    if (isVTLDRBackup()) {
        m_failPhase = false;
        callback->setScanResult(CTimeStamp::Now(), {}, 0, 0);
        KX_RETURN_IF_ERROR(bag->Write(Id::idIncrImageMode, true));
        return WriteResults({}, {}, {});
    }
    if (!bag->GetBool(Id::idIndexV2) && (m_vtlBackup || m_scanlessBackup))
        KX_RETURN_IF_ERROR(bag->Write(Id::idIncrImageMode, true));
    std::string instance;
    if (bag->Read(Id::idInstance, instance).IsError())
        return CKxError(KxCode::InvalidParameter, "Bag don't have 'instance' set");

    std::unique_ptr<ProxyScan> scan;
    CKxError result = LoadPlugin(scan);
    if (result.IsSuccess() && m_setBackupDate) {
        if (CKxError state = CreateVMSBackupAttStateFile(); state.IsError())
            FSLOG_ERROR("Failed to create VMS Backup Attribute State File. %s", state.AsString().c_str());
    }
    if (result.IsSuccess())
        result = RunClientScan(*scan, *callback);
    scan.reset();  // ends the client process if it still runs
    if (result.IsError() && result.Code() != ProxyScan::kOperationAborted)
        FailPhase(result.Message());
    return result;
}

CKxError CScanJobProxyClient::RunClientScan(ProxyScan& scan, CScanJobCallbackProxyClient& callback)
{
    if (m_vtlBackup) {
        FSLOG(0, "Enable multiple readers for VTL backup.");
        m_allowMultipleReadersPerVolume = true;
    }
    FSLOG(0, "m_allowMultipleReadersPerVolume:%d m_numberOfReaders:%d m_ibmi_granular_backup:%d",
          m_allowMultipleReadersPerVolume, m_numberOfReaders, m_granularBackup);
    scan.setNumberOfReadersPerVolume(m_allowMultipleReadersPerVolume ? m_numberOfReaders : 1);
    scan.setPreserveAccessTime(m_preserveAccessTime);
    scan.setVTLBackup(m_vtlBackup);

    SProxyScanIdentity identity;
    identity.jobId = m_jobId;
    identity.referenceTime = GetReferenceTime();
    identity.backupType = m_backupType;
    const auto step = [this, &scan](CKxError error, const char* what) {
        if (error.IsError() && error.Code() != ProxyScan::kOperationAborted)
            error = CKxError(error.Code(), KxFormat(what, m_clientHost.c_str(), static_cast<long>(scan.GetPort())) +
                                               ": " + error.Message());
        return error;
    };
    KX_RETURN_IF_ERROR(step(scan.Initialize(m_clientHost, identity, m_timeout),
                            "Failed to initialize ProxyScan instance for client host '%s:%ld'"));
    int logFd = -1;
    KX_RETURN_IF_ERROR(OpenClientLog(logFd));
    CKxError started = scan.StartClient(m_launch, m_clientRoot, logFd);
    ::close(logFd);
    KX_RETURN_IF_ERROR(step(std::move(started), "Failed to start client process on a client host '%s:%ld'"));
    KX_RETURN_IF_ERROR(step(scan.AcceptConnection(*this), "Failed to accept connection from a client host '%s:%ld'"));
    CKxError sent = scan.SendConfiguration(ScanConfiguration());
    if (sent.IsError())
        return std::move(sent.Push("Scan Configuration failed to send to client machine"));

    KX_RETURN_IF_ERROR(OpenCollectFile());
    CKxError waited = scan.WaitForScan(*this);
    if (waited.IsSuccess())
        waited = FlushCollectLines();
    if (waited.IsSuccess()) {
        m_failPhase = false;
        SetFailJob(false);
    } else if (waited.Code() == ProxyScan::kOperationAborted) {
        FSLOG(0, "Job is suspended or killed.");
        return waited;
    } else {
        FSLOG_ERROR("Scan phase failed.");
    }
    if (CKxError complete = scan.SendJobComplete(); complete.IsError())
        FSLOG_ERROR("SendJobComplete return error: %s", complete.AsString().c_str());

    const std::vector<std::string> messages = scan.GetMessages();
    std::string text;
    for (const std::string& message : messages)
        text += (text.empty() ? "" : "; ") + message;
    text = text.empty() ? "Client reported a failure. Check client's scan log for more details."
                        : "Client reported: " + text;
    if (waited.IsError() && waited.Code() != ProxyScan::kClientFailed)
        text = waited.Message();

    if (std::shared_ptr<CFileSystemScanFailureConsumer> failures = FailureList(callback))
        KX_RETURN_IF_ERROR(failures->Flush());
    KX_RETURN_IF_ERROR(ReportFailedFiles());

    const SProxyScanCounts counts = scan.GetCounts();
    if (!isFailPhaseSet() && !isFailJobSet()) {
        callback.setScanResult(CTimeStamp::Now(), messages, counts.items, counts.failures);
        FSLOG(0, "Client scan of %s:%s: %llu items (%llu folders), %llu failures", m_clientHost.c_str(),
              m_clientRoot.c_str(), static_cast<unsigned long long>(counts.items),
              static_cast<unsigned long long>(counts.folders), static_cast<unsigned long long>(counts.failures));
        return WriteResults(counts, messages, {});
    }
    if (CKxError written = WriteResults(counts, messages, text); written.IsError())
        FSLOG_ERROR("%s", written.AsString().c_str());
    return CKxError(waited.Code(), text);
}

CKxError CScanJobProxyClient::OnItem(bool folder, std::string_view path, std::uint64_t size)
{
    escapeFileNameAppend(path, m_lines);
    if (folder) {
        if (path.size() > 1)
            m_lines.push_back('/');
        ++m_lineFolders;
    } else {
        m_lines.push_back('|');
        m_lines += std::to_string(size);
        m_lineBytes += size;
    }
    m_lines.push_back('\n');
    ++m_lineItems;
    return m_lines.size() >= kLineRun ? FlushCollectLines() : CKxError::Success();
}

CKxError CScanJobProxyClient::FlushCollectLines()
{
    if (m_lines.empty() || !m_collect)
        return CKxError::Success();
    CKxError written = m_collect->RawWriteItems(m_lines, m_lineItems, m_lineFolders, m_lineBytes);
    m_lines.clear();
    m_lineItems = m_lineFolders = m_lineBytes = 0;
    return written;
}

CKxError CScanJobProxyClient::OnFailure(std::string_view line)
{
    SFailedItem item;
    KX_RETURN_IF_FAILED(CFileSystemScanFailureConsumer::ParseLine(line, item), "The client sent a bad failure line");
    const std::string path = item.isFolder && item.path != "/" ? item.path + "/" : item.path;
    return m_callback->ReportScanFailure(path, CKxError(item.code, "Failed on the client"));
}

bool CScanJobProxyClient::ShouldQuit() { return m_callback && m_callback->IsAborted(); }

CKxError CScanJobProxyClient::ReportFailedFiles()
{
    std::shared_ptr<CFileSystemScanFailureConsumer> failures = FailureList(*m_callback);
    if (!failures)
        return CKxError::Success();
    const std::string list = failures->GetFileName();
    std::ifstream in(list, std::ios::binary);
    if (!in) {
        FSLOG_ERROR("open(%s) failed, error=%s", list.c_str(), std::strerror(errno));
        return CKxError::Success();
    }
    std::shared_ptr<ZvErrorControl> rules = failures->GetZvErrorControl();
    int folders = 0;
    for (std::string line; std::getline(in, line);) {
        SFailedItem item;
        if (CFileSystemScanFailureConsumer::ParseLine(line, item).IsError())
            continue;
        FSLOG(3, "sFileName[%s] ErrCode[%d]", item.path.c_str(), item.code);
        std::string pattern;
        if (rules && rules->IsSkipFromReporting(item.path, item.code, pattern)) {
            FSLOG(0, "Failed item, skipped from reporting. Pattern %s, error %d", pattern.c_str(), item.code);
            continue;
        }
        folders += item.isFolder ? 1 : 0;
        const std::string text = "Failed to Scan " + item.path + " due to error[" + std::to_string(item.code) + "]";
        FSLOG(0, "ScanFailure: %s", text.c_str());
    }
    FSLOG(0, "Updating %d folders failed in scan", folders);
    return CKxError::Success();
}

CKxError CScanJobProxyClient::WriteResults(const SProxyScanCounts& counts, const std::vector<std::string>& messages,
                                           const std::string& failure)
{
    std::string text = KxFormat("status %s\n", failure.empty() ? "completed" : "failed");
    text += KxFormat("time %lld\nitems %llu\nfailures %llu\n", static_cast<long long>(CTimeStamp::Now().Seconds()),
                     static_cast<unsigned long long>(counts.items), static_cast<unsigned long long>(counts.failures));
    for (const std::string& message : messages)
        text += "message " + escapeFileName(message) + "\n";
    if (!failure.empty())
        text += "failure " + escapeFileName(failure) + "\n";
    CKxError written = FXFile::WriteFileAtomically(m_resultsFile, text);
    if (written.IsError())
        return std::move(written.Push(KxFormat("open(%s) failed for backup results", m_resultsFile.c_str())));
    return CKxError::Success();
}

CKxError CScanJobProxyClient::Cleanup()
{
    FSTRACE();
    CKxError result = FlushCollectLines();
    if (m_collect) {
        CKxError closed = m_collect->Close();
        if (result.IsSuccess())
            result = std::move(closed);
    }
    if (m_callback) {
        if (std::shared_ptr<CFileSystemScanFailureConsumer> failures = FailureList(*m_callback)) {
            CKxError flushed = failures->Flush();
            if (result.IsSuccess())
                result = std::move(flushed);
        }
    }
    FSLOG(0, "Cleaning up Backup results");
    (void)EndAliveThread();
    if (result.IsSuccess())
        result = Cleanup_SyncOutputs();
    if (result.IsError())
        return result;
    return CScanJob::Cleanup();
}
