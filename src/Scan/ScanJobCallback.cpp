#include "Scan/ScanJobCallback.h"

#include <charconv>
#include <chrono>

#include "Agent/XJob.h"
#include "Agent/ZVJobCtrlClient.h"
#include "Base/FunctionTrace.h"
#include "Base/LogWriter.h"
#include "CollectFile/FlatCollectFile.h"
#include "CollectFile/IncrFlatCollectFile.h"
#include "CollectFile/PathCacheFlatFileIndex.h"
#include "CollectFile/ZvFIFO.h"
#include "Engine/FindFirstItem.h"
#include "Scan/BackupJobTypeEvaluator.h"
#include "Scan/FileNameFactory.h"
#include "Scan/FileSystemScanFailureConsumer.h"
#include "Scan/ProcessCommitFiles.h"
#include "Scan/ProcessFailedFiles.h"
#include "ContentContainer/ContentContainerBuffer.h"
#include "Scan/IncrementalDirChange.h"
#include "Scan/MaxFileCTimeConsumer.h"
#include "Scan/PostProcessCollectFiles.h"
#include "Scan/PostProcessDirChange.h"
#include "Scan/PostProcessingOptions.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/ScannerOptions.h"
#include "Scan/ScannerSettings.h"
#include "Scan/SplitCollectFiles.h"
#include "Scan/Unix/VolumeBackupStatusData.h"
#include "Scan/ZvErrorControl.h"

#include <algorithm>
#include <new>

namespace Id = SXScannerConfigurationBagId;

namespace {
// Cluster types of distributed subclients whose backup phase needs to know the file system.
constexpr std::int64_t kClusterGluster = 11;
constexpr std::int64_t kClusterLustre = 13;
}  // namespace

CScanJobCallback::SPathQueue::SPathQueue(const char* queueName) : name(queueName) {}

CScanJobCallback::SPathQueue::~SPathQueue() = default;

CScanJobCallback::CScanJobCallback() = default;

CScanJobCallback::~CScanJobCallback() = default;

std::string CScanJobCallback::AsString() const { return "ScanJobCallback"; }

bool CScanJobCallback::IsAborted()
{
    SetIsAlive();
    if (!m_jobControl || m_quitSeen.load(std::memory_order_relaxed))
        return true;
    // Workers ask before every folder; asking the job manager that often costs a file-system
    // call per folder, so its answer is taken at most every kQuitCheckInterval.
    const std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
    std::int64_t due = m_nextQuitCheck.load(std::memory_order_relaxed);
    if (now >= due && m_nextQuitCheck.compare_exchange_strong(due, now + kQuitCheckInterval.count())) {
        if (m_jobControl->checkQuitFlag()) {
            m_quitSeen.store(true, std::memory_order_relaxed);
            return true;
        }
    }
    return CScannerCallback::IsAborted();
}

CKxError CScanJobCallback::GetScannerOptionsInstance(std::shared_ptr<CScannerOptions>& options)
{
    if (!m_scannerOptions)
        m_scannerOptions = MakeScannerOptions();
    options = m_scannerOptions;
    if (!options)
        return CKxError(KxCode::NotEnoughMemory, "Failed to create scanner options");
    return CKxError::Success();
}

std::shared_ptr<CScannerOptions> CScanJobCallback::MakeScannerOptions() { return std::make_shared<CScannerOptions>(); }

CKxError CScanJobCallback::GetPostProcessingOptionsInstance(std::shared_ptr<CPostProcessingOptions>& options)
{
    if (!m_postProcessingOptions) {
        CBagPtr bag = GetScannerConfigurationBag();
        if (!bag)
            return CKxError(KxCode::OperationAborted, "Bag is not initialized by ScannerOptions");
        const std::string applicationId =
            KxFormat("%lld:%lld", static_cast<long long>(CScannerSettings::GetInteger(*bag, Id::idOrbundId, 0)),
                     static_cast<long long>(CScannerSettings::GetInteger(*bag, Id::idAppId, 0)));
        m_postProcessingOptions = std::make_shared<CPostProcessingOptions>(applicationId);
    }
    options = m_postProcessingOptions;
    return CKxError::Success();
}

CKxError CScanJobCallback::GetScanFailureConsumer(CScanFailureConsumerPtr& consumer)
{
    std::lock_guard lock(m_failureConsumerLock);
    if (!m_failureConsumer && m_fileNameFactory) {
        auto created = std::make_shared<CFileSystemScanFailureConsumer>(m_jobId, m_fileNameFactory);
        KX_RETURN_IF_FAILED(created->Initialize(), "Failed to create the scan failure consumer");
        m_failureConsumer = std::move(created);
    }
    consumer = m_failureConsumer;
    return CKxError::Success();
}

CKxError CScanJobCallback::ConfigureScanFailureConsumerErrorCtrl(const std::string& applicationId)
{
    CScanFailureConsumerPtr created;
    KX_RETURN_IF_ERROR(GetScanFailureConsumer(created));
    std::shared_ptr<CFileSystemScanFailureConsumer> failures;
    {
        std::lock_guard lock(m_failureConsumerLock);
        failures = m_failureConsumer;
    }
    if (failures)
        failures->SetZvErrorControl(m_jobControl, applicationId);
    return CKxError::Success();
}

int CScanJobCallback::EvaluateScanFailureErrorRules(std::string& errorText, std::string& pattern)
{
    std::shared_ptr<CFileSystemScanFailureConsumer> failures;
    {
        std::lock_guard lock(m_failureConsumerLock);
        failures = m_failureConsumer;
    }
    errorText.clear();
    pattern.clear();
    return failures ? failures->EvaluateErrorRules(errorText, pattern) : ZvErrorControl::kNoDecision;
}

CKxError CScanJobCallback::initJobControl(const std::string& token)
{
    CBagPtr bag = GetScannerConfigurationBag();
    const bool retry = bag && bag->GetBool(Id::idRetryScanAttempt);
    m_jobControl = std::make_shared<ZVJobCtrlClient>(m_jobId);
    if (retry) {
        FSLOG(0, "This is a retry attempt, Hence not initalizing the job control again as it will fail");
        return CKxError::Success();
    }
    FSLOG(0, "Initializing Job Manager interface using token '%s'", token.c_str());
    CKxError result = m_jobControl->initJobControl(token);
    if (result.IsError()) {
        m_jobControl.reset();
        return std::move(result.Push("Failed to initialize job control"));
    }
    return CKxError::Success();
}

bool CScanJobCallback::IsFileServerClientScan(int clientAppType) const
{
    return clientAppType == 2 || clientAppType == 3 || clientAppType == 5 || clientAppType == 10;
}

std::shared_ptr<CFileNameFactory> CScanJobCallback::GetFileNameFactory(unsigned long backupType,
                                                                       const std::string& resultsFolder)
{
    if (!m_fileNameFactory || m_fileNameFactory->GetBackupType() != backupType ||
        m_fileNameFactory->GetResultsFolder() != resultsFolder)
        m_fileNameFactory = MakeFileNameFactory(static_cast<unsigned int>(backupType), resultsFolder);
    return m_fileNameFactory;
}

std::shared_ptr<CFileNameFactory> CScanJobCallback::MakeFileNameFactory(unsigned int backupType,
                                                                        const std::string& resultsFolder)
{
    return std::make_shared<CFileNameFactory>(backupType, resultsFolder);
}

CKxError CScanJobCallback::CreateStatusFile(const std::string&) { return CKxError::Success(); }

CKxError CScanJobCallback::GetScanStats(SScanStats& stats)
{
    stats = SScanStats{};
    const std::vector<COutputResourcesPtr> resources = GetOutputResourcesList();
    stats.outputResources = static_cast<std::uint32_t>(resources.size());
    int index = 0;
    for (const COutputResourcesPtr& resource : resources) {
        FSLOG(3, "Output resource [%d] SourceVolumePath=[%s], ptrCollect=[0x%p]", index++,
              resource->GetSourceVolumePath().c_str(), static_cast<void*>(resource->GetCollectConsumer().get()));
        AddCollectFileStats(*resource, stats);
    }
    FSLOG(0, "Total Collect Files=[%d], Total Data Size=[%llu], Total items to Backup=[%lld], Total Folder to backup=[%lld]",
          static_cast<int>(stats.collectFiles), static_cast<unsigned long long>(stats.dataSize),
          static_cast<long long>(stats.totalItems), static_cast<long long>(stats.folders));
    return CKxError::Success();
}

int CScanJobCallback::GetNumStreams()
{
    SScanStats stats;
    if (GetScanStats(stats).IsError() || stats.collectFiles == 0)
        return 1;
    CBagPtr bag = GetScannerConfigurationBag();
    const std::int64_t configured = bag ? CScannerSettings::GetInteger(*bag, Id::idNumStreams, 1) : 1;
    // More streams than collect files would leave streams without anything to read.
    if (configured == -1)
        return static_cast<int>(stats.collectFiles);
    return static_cast<int>(std::clamp<std::int64_t>(configured, 1, stats.collectFiles));
}

bool CScanJobCallback::shouldOverrideScanReftTime() const { return m_maxCtimeTracking; }

CTimeStamp CScanJobCallback::getScanReftTime() const
{
    if (m_maxCtimeTracking)
        return CTimeStamp(GetMaxFileCtime());
    CBagPtr bag = GetScannerConfigurationBag();
    return CTimeStamp(bag ? bag->Get<long long>(Id::idScanStartTime, 0) : 0);
}

CKxError CScanJobCallback::GetNextPhaseArguments(std::string& arguments, int& action)
{
    FSTRACE();
    // Each step appends its own fragment; the order is the order the backup phase reads them.
    KX_RETURN_IF_ERROR(GetNextPhaseArguments_Misc(arguments));
    KX_RETURN_IF_ERROR(GetNextPhaseArguments_UpdateStats(arguments));
    KX_RETURN_IF_ERROR(GetNextPhaseArguments_UpdateIncImage(arguments));
    KX_RETURN_IF_ERROR(GetNextPhaseArguments_AddHocBackup(arguments));
    KX_RETURN_IF_ERROR(GetNextPhaseArguments_UpdateRefTime(arguments));
    KX_RETURN_IF_ERROR(GetNextPhaseArguments_DistributedApps(arguments));
    KX_RETURN_IF_ERROR(GetNextPhaseArguments_FileServerClient(arguments));
    KX_RETURN_IF_ERROR(GetNextPhaseArguments_TrueUp(arguments));
    KX_RETURN_IF_ERROR(GetNextPhaseArguments_PostOps(arguments));
    if (action == 0)
        action = 2;  // concatenate to what earlier phases set
    return CKxError::Success();
}

CKxError CScanJobCallback::GetNextPhaseArguments_Misc(std::string& arguments)
{
    CBagPtr bag = GetScannerConfigurationBag();
    if (m_scContentFailed)
        arguments += " -scfail ";
    if (m_scanError)
        arguments += " -ScanError ";
    arguments += KxFormat(" -ab %d ", bag && bag->GetBool(Id::idUseArchiveBit) ? 1 : 0);
    return CKxError::Success();
}

CKxError CScanJobCallback::GetNextPhaseArguments_UpdateStats(std::string& arguments)
{
    SScanStats stats;
    KX_RETURN_IF_FAILED(GetScanStats(stats), "Failed to get scan statistics");
    m_totalBackupSize = stats.dataSize;
    arguments += KxFormat(" -parent 1 -c %llu -maxcolnum %d -numcol %d -numfolder %llu ",
                          static_cast<unsigned long long>(stats.totalItems), static_cast<int>(stats.outputResources),
                          static_cast<int>(stats.collectFiles), static_cast<unsigned long long>(stats.folders));
    return CKxError::Success();
}

CKxError CScanJobCallback::GetNextPhaseArguments_UpdateIncImage(std::string& arguments)
{
    CBagPtr bag = GetScannerConfigurationBag();
    if (!bag || !bag->GetBool(Id::idIncrImageMode))
        return CKxError::Success();
    arguments += bag->GetBool(Id::idIndexV2) ? " -incimage -idx2 " : " -incimage ";
    return CKxError::Success();
}

CKxError CScanJobCallback::GetNextPhaseArguments_AddHocBackup(std::string& arguments)
{
    CBagPtr bag = GetScannerConfigurationBag();
    if (!bag || !bag->GetBool(Id::idOnDemandAdHocBackupJob))
        return CKxError::Success();
    arguments += KxFormat(" -r %lu ", static_cast<unsigned long>(
                                          CScannerSettings::GetInteger(*bag, Id::idOnDemandAdHocPrevJobRefrenceTime, 0)));
    FSLOG(0, "enabling phase param \"-adhoc\" for adhoc backups");
    arguments += " -adhoc ";
    return CKxError::Success();
}

CKxError CScanJobCallback::GetNextPhaseArguments_UpdateRefTime(std::string& arguments)
{
    if (!m_maxCtimeTracking)
        return CKxError::Success();
    CBagPtr bag = GetScannerConfigurationBag();
    const long long scanStart = bag ? bag->Get<long long>(Id::idScanStartTime, 0) : 0;
    long long referenceTime = scanStart;
    const long long newest = GetMaxFileCtime();
    if (newest < scanStart) {
        referenceTime = newest;
        // One second back keeps a file changed within the newest second in the next job; a
        // time equal to this job's own reference time is already safe.
        if (referenceTime != 0 && referenceTime != static_cast<long long>(m_referenceTime))
            --referenceTime;
        if (referenceTime == 0)
            referenceTime = 1;
    }
    FSLOG(0, "Setting reference time from file ctime as %lld", referenceTime);
    arguments += KxFormat(" -r %lld ", referenceTime);
    return CKxError::Success();
}

CKxError CScanJobCallback::GetNextPhaseArguments_DistributedApps(std::string& arguments)
{
    CBagPtr bag = GetScannerConfigurationBag();
    if (!bag || !bag->GetBool(Id::idDistributedFSMode))
        return CKxError::Success();
    const std::int64_t clusterType = CScannerSettings::GetInteger(*bag, Id::idDistributedAppType, 0);
    if (clusterType == kClusterGluster)
        arguments += " -gluster";
    else if (clusterType == kClusterLustre)
        arguments += " -lustre";
    arguments += " -dct ";
    // A distributed job mounts its content on every node; the backup phase must do the same.
    if (bag->GetBool(Id::idAutoMountRequired))
        arguments += " -amr ";
    return CKxError::Success();
}

CKxError CScanJobCallback::GetNextPhaseArguments_FileServerClient(std::string& arguments)
{
    CBagPtr bag = GetScannerConfigurationBag();
    if (!bag)
        return CKxError::Success();
    const int clientAppType = static_cast<int>(CScannerSettings::GetInteger(*bag, Id::idClientAppType, 0));
    if (!IsFileServerClientScan(clientAppType))
        return CKxError::Success();
    arguments += KxFormat(" -cat %d", clientAppType);
    // The file-server change list replaces the directory-change comparison.
    if (bag->GetBool(Id::idDisableDCCompare))
        arguments += " -dcdiscard";
    arguments += " -FSC";
    if (!bag->GetBool(Id::idFileServerSnapBackupFromSnapshotOnly))
        arguments += " -nsnap";
    return CKxError::Success();
}

CKxError CScanJobCallback::GetNextPhaseArguments_TrueUp(std::string& arguments)
{
    CBagPtr bag = GetScannerConfigurationBag();
    if (!bag)
        return CKxError::Success();
    // The backup phase that follows marks the true-up state complete once it succeeded.
    if (bag->GetBool(Id::idTrueUpMarkAtBackup))
        arguments += " -trueup ";
    const bool trueUp =
        bag->GetBool(m_backupJobKind == 1 ? Id::idTrueUpEnabled : Id::idTrueUpLaptopFirstPhase);
    if (!trueUp)
        return CKxError::Success();
    arguments += " -TJ ";
    const std::int64_t jobsToTrueUp = CScannerSettings::GetInteger(*bag, Id::idJobsToTrueUp, 0);
    if (jobsToTrueUp != 0)
        arguments += KxFormat(" -TJC %lld ", static_cast<long long>(jobsToTrueUp));
    const std::int64_t lastSynthFull = CScannerSettings::GetInteger(*bag, Id::idLastSynthFullJobID, 0);
    if (lastSynthFull != 0)
        arguments += KxFormat(" -ls %lld ", static_cast<long long>(lastSynthFull));
    return CKxError::Success();
}

CKxError CScanJobCallback::GetNextPhaseArguments_PostOps(std::string& arguments)
{
    CBagPtr bag = GetScannerConfigurationBag();
    if (bag && bag->GetBool("bEnableAutoSubclientDirCleanup"))
        arguments += " -CLN ";
    return CKxError::Success();
}

void CScanJobCallback::SetScannerConfigurationBag(CBagPtr bag) { m_bag = std::move(bag); }

CBagPtr CScanJobCallback::GetScannerConfigurationBag() const
{
    if (m_bag)
        return m_bag;
    return m_scannerOptions ? m_scannerOptions->GetConfigurationBag() : nullptr;
}

void CScanJobCallback::SetIsAlive()
{
    std::lock_guard lock(m_aliveLock);
    if (!m_alive)
        m_alive = true;
}

bool CScanJobCallback::GetIsAlive() const
{
    std::lock_guard lock(m_aliveLock);
    return m_alive;
}

void CScanJobCallback::ResetIsAlive()
{
    std::lock_guard lock(m_aliveLock);
    m_alive = false;
}

void CScanJobCallback::AddOutputResource(COutputResourcesPtr resource)
{
    std::lock_guard lock(m_outputResourcesLock);
    m_outputResources.push_back(std::move(resource));
}

std::vector<COutputResourcesPtr> CScanJobCallback::GetOutputResourcesList() const
{
    std::lock_guard lock(m_outputResourcesLock);
    return m_outputResources;
}

void CScanJobCallback::AddCollectFileStats(const COutputResources& resource, SScanStats& stats) const
{
    auto collect = std::dynamic_pointer_cast<CFlatCollectFile>(resource.GetCollectConsumer());
    if (!collect)
        return;
    // The deleted-items list is written like a collect file but holds nothing to back up.
    if (collect->GetFileName().find("DeletedItems") != std::string::npos) {
        stats.deletedItems += static_cast<std::int64_t>(collect->GetItemCount());
        return;
    }
    ++stats.collectFiles;
    stats.dataSize += collect->GetDataSize();
    stats.totalItems += static_cast<std::int64_t>(collect->GetItemCount());
    stats.folders += collect->GetFolderCount();
}

COutputResourcesPtr CScanJobCallback::FindOutputResource(const std::string& volumeId) const
{
    std::lock_guard lock(m_outputResourcesLock);
    for (const COutputResourcesPtr& resource : m_outputResources)
        if (resource->GetVolumeId() == volumeId)
            return resource;
    return nullptr;
}

CKxError CScanJobCallback::FindOrAddOutputResource(const std::string& volumeId,
                                                   const std::function<CKxError(int, COutputResourcesPtr&)>& create,
                                                   COutputResourcesPtr& resource, bool& created)
{
    created = false;
    std::lock_guard lock(m_outputResourcesLock);
    for (const COutputResourcesPtr& existing : m_outputResources)
        if (existing->GetVolumeId() == volumeId) {
            resource = existing;
            return CKxError::Success();
        }
    const int index = ++m_outputResourceIndex;
    COutputResourcesPtr made;
    KX_RETURN_IF_ERROR(create(index, made));
    m_outputResources.push_back(made);
    resource = std::move(made);
    created = true;
    return CKxError::Success();
}

int CScanJobCallback::GetOutputResourceIndex() const
{
    std::lock_guard lock(m_outputResourcesLock);
    return m_outputResourceIndex;
}

CKxError CScanJobCallback::FlushBuffers()
{
    FSTRACE();
    CKxError first;
    auto keep = [&first](CKxError result) {
        if (result.IsError() && first.IsSuccess())
            first = std::move(result);
    };
    for (const COutputResourcesPtr& resource : GetOutputResourcesList()) {
        // The ancestor writer writes through the collect file; the directory-change writer
        // flushes itself when it is a collect file too.
        for (const CItemConsumerPtr& consumer : {resource->GetCollectConsumer(), resource->GetDirChangeConsumer()})
            if (auto collect = std::dynamic_pointer_cast<CFlatCollectFile>(consumer))
                keep(collect->Flush());
        if (auto record = std::dynamic_pointer_cast<IncrementalDirChange>(resource->GetDirChangeConsumer()))
            keep(record->FlushBuffer());
        else if (auto queue = std::dynamic_pointer_cast<CContentContainerBuffer>(resource->GetDirChangeConsumer()))
            keep(queue->FlushItems());
    }
    std::shared_ptr<CFileSystemScanFailureConsumer> failures;
    {
        std::lock_guard lock(m_failureConsumerLock);
        failures = m_failureConsumer;
    }
    if (failures)
        keep(failures->Flush());
    if (first.IsError())
        first.Push("Failed to flush the scan's output");
    return first;
}

CKxError CScanJobCallback::GetSplitCollectFileInterface(std::shared_ptr<ISplitCollectFiles>& splitter)
{
    splitter.reset();
    return CKxError::Success();
}

CKxError CScanJobCallback::GetPostProcessResultFolderInterface(
    std::shared_ptr<CFileSystemPostProcessResultFolder>& postProcess)
{
    postProcess.reset();
    return CKxError::Success();
}

CKxError CScanJobCallback::GetPostProcessCollectFilesInterface(std::shared_ptr<CPostProcessCollectFiles>& postProcess)
{
    postProcess.reset();
    return CKxError::Success();
}

CKxError CScanJobCallback::GetDeletedItemsCollectFile(std::shared_ptr<CIncrFlatCollectFile>& file, int& collectNumber)
{
    file.reset();
    collectNumber = 0;
    if (!m_fileNameFactory)
        return CKxError(KxCode::NotFound, "No results-file names for the deleted-items collect file");
    COutputResourcesPtr resource;
    bool created = false;
    KX_RETURN_IF_FAILED(FindOrAddOutputResource(
                            kDeletedItemsVolumeId,
                            [this](int index, COutputResourcesPtr& made) {
                                const std::string name = m_fileNameFactory->DeletedItemsCollect();
                                auto collect = std::make_shared<CIncrFlatCollectFile>(m_jobId, name);
                                KX_RETURN_IF_ERROR(collect->Open(false));
                                made = std::make_shared<COutputResources>(index, std::string(), kDeletedItemsVolumeId);
                                made->SetCollectConsumer(collect);
                                FSLOG(0, "Adding output resource at index[%d] for deleted items [%s]", index, name.c_str());
                                return CKxError::Success();
                            },
                            resource, created),
                        "Failed to create the deleted-items collect file");
    file = std::dynamic_pointer_cast<CIncrFlatCollectFile>(resource->GetCollectConsumer());
    if (!file)
        return CKxError(KxCode::NotFound, "The deleted-items collect file was removed already");
    collectNumber = resource->GetCollectNumber();
    return CKxError::Success();
}

CKxError CScanJobCallback::GetProcessFailedFiles(std::shared_ptr<CProcessFailedFiles>& processor)
{
    processor.reset();
    if (!m_fileNameFactory)
        return CKxError(KxCode::NotFound, "No results-file names for the failed file list");
    processor = std::make_shared<CProcessFailedFiles>(m_fileNameFactory->FailedItemsCollect(),
                                                      !m_fileNameFactory->IsFullBackup());
    return CKxError::Success();
}

CKxError CScanJobCallback::GetProcessCommitFiles(std::shared_ptr<CProcessCommitFiles>& processor)
{
    processor.reset();
    if (!m_fileNameFactory)
        return CKxError(KxCode::NotFound, "No results-file names for the commit file");
    processor = std::make_shared<CProcessCommitFiles>(m_fileNameFactory->CommitCollect(),
                                                      !m_fileNameFactory->IsFullBackup());
    return CKxError::Success();
}

std::string CScanJobCallback::VolumeOf(const std::string&) { return "/"; }

SDirChangeComparison CScanJobCallback::DirChangeComparison(bool referencePresent)
{
    CBagPtr bag = GetScannerConfigurationBag();
    SDirChangeComparison job;
    job.backupType = bag ? static_cast<unsigned long>(CScannerSettings::GetInteger(*bag, Id::idBackupType, 1)) : 1;
    job.jobId = m_jobId;
    job.previousPath = m_previousDirChangePath;
    job.referencePath = m_referenceDirChangePath;
    job.failuresPath = m_fileNameFactory ? m_fileNameFactory->ScanFailedItemsCollect() : std::string();
    // A full finds deleted items only for the file-server true-up, and only against a record.
    job.deletedItemDetection = !job.IsFull() || (bag && bag->GetBool(Id::idFileServerTrueUp) && referencePresent);
    if (bag && bag->GetBool(Id::idDisableDCCompare))
        job.deletedItemDetection = false;
    return job;
}

CKxError CScanJobCallback::GetPostProcessDirChangeInterface(std::shared_ptr<IPostProcessDirChange>& postProcess)
{
    std::shared_ptr<CPathCacheFlatFileIndex> index = IncrementalDirChange::GetIndex();
    postProcess = std::make_shared<CPostProcessDirChange>(
        GetOutputResourcesList(), DirChangeComparison(index && index->HasPreviousBackingFile()));
    return CKxError::Success();
}

CKxError CScanJobCallback::ProcessEmptyScanContent(const std::vector<std::string>&) { return CKxError::Success(); }

CKxError CScanJobCallback::CreateMountConfigFile() { return CKxError::Success(); }

CKxError CScanJobCallback::ReportScanFailure(const CItemPtr&, const CKxError&) { return CKxError::Success(); }

CKxError CScanJobCallback::ReportScanFailure(const std::string&, const CKxError&) { return CKxError::Success(); }

CKxError CScanJobCallback::GetBackupJobTypeEvaluator(const std::string& volume, CItemEvaluatorPtr& evaluator)
{
    CBagPtr bag = GetScannerConfigurationBag();
    // No change journal on this platform: the status record only carries the job's reference.
    auto status = std::make_shared<CVolumeBackupStatusData>(volume);
    status->SetRefTime(CTimeStamp(m_referenceTime));
    auto made = std::shared_ptr<CBackupJobTypeEvaluator>(new (std::nothrow) CBackupJobTypeEvaluator(status));
    if (!made)
        return CKxError(KxCode::OutOfMemory, KxFormat("Failed to allocate the backup type evaluator of '%s'", volume.c_str()));
    const unsigned long backupType =
        bag ? static_cast<unsigned long>(CScannerSettings::GetInteger(*bag, Id::idBackupType, 1)) : 1;
    KX_RETURN_IF_FAILED(made->Initialize(backupType, CTimeStamp(m_referenceTime), bag, m_previousDirChange),
                        "Failed to initialize the backup type evaluator");
    evaluator = std::move(made);
    return CKxError::Success();
}

CKxError CScanJobCallback::CreateAndAddFileCTimeConsumer(CItemConsumerPtr& head)
{
    if (!m_maxCtimeTracking)
        return CKxError::Success();
    CBagPtr bag = GetScannerConfigurationBag();
    const long long scanStart = bag ? bag->Get<long long>(Id::idScanStartTime, 0) : 0;
    head = std::make_shared<CMaxFileCTimeConsumer>(head, *this, scanStart, m_jobId);
    FSLOG(3, "added file ctime consumer");
    return CKxError::Success();
}

std::string CScanJobCallback::GetSourcePath(const std::string& localPath) const
{
    return m_contentMapper ? m_contentMapper->GetSourcePath(localPath) : localPath;
}

// ---- Path queues ----------------------------------------------------------------------

CKxError CScanJobCallback::OpenQueueLocked(SPathQueue& queue)
{
    if (queue.fifo)
        return CKxError::Success();
    const std::string folder = CXJob::getVantrelTempDirectory();
    if (folder.empty())
        return CKxError(KxCode::NotFound, KxFormat("No temporary folder for the %s queue", queue.name));
    auto fifo = std::make_unique<ZvFIFO>();
    KX_RETURN_IF_FAILED(fifo->Open(folder), "Failed to create the %s queue in [%s]", queue.name, folder.c_str());
    queue.fifo = std::move(fifo);
    return CKxError::Success();
}

CKxError CScanJobCallback::Push(SPathQueue& queue, const std::string& entry, bool openOnDemand)
{
    std::lock_guard lock(queue.lock);
    if (!queue.fifo) {
        if (!openOnDemand)
            return CKxError::Success();
        KX_RETURN_IF_ERROR(OpenQueueLocked(queue));
    }
    KX_RETURN_IF_FAILED(queue.fifo->push(entry), "Failed to queue [%s] for the %s pass", entry.c_str(), queue.name);
    return CKxError::Success();
}

CKxError CScanJobCallback::PopAll(SPathQueue& queue, std::vector<std::string>& paths)
{
    std::lock_guard lock(queue.lock);
    if (!queue.fifo)
        return CKxError::Success();
    while (true) {
        std::string value;
        bool popped = false;
        KX_RETURN_IF_FAILED(queue.fifo->pop(value, popped), "Failed to read the %s queue", queue.name);
        if (!popped)
            return CKxError::Success();
        paths.push_back(std::move(value));
    }
}

CKxError CScanJobCallback::EnableSymLink()
{
    std::lock_guard lock(m_symLinkQueue.lock);
    return OpenQueueLocked(m_symLinkQueue);
}

bool CScanJobCallback::IsSymLinkEnabled() const
{
    std::lock_guard lock(m_symLinkQueue.lock);
    return static_cast<bool>(m_symLinkQueue.fifo);
}

namespace {
// The entry of a queue: the source path, with one trailing '/' for a folder.
std::string QueueEntry(const CItem& item)
{
    std::string entry = item.GetSourceFullyQualifiedItemName();
    if (item.IsFolder() && (entry.empty() || entry.back() != '/'))
        entry.push_back('/');
    return entry;
}
}  // namespace

CKxError CScanJobCallback::OnSymLink(const CItemPtr& item)
{
    if (!IsSymLinkEnabled())
        return CKxError::Success();
    CItemPtr target;
    KX_RETURN_IF_FAILED(GetItemFromSymLink(item, target), "Failed to resolve sym-link '%s'",
                        item->GetSourceFullyQualifiedItemName().c_str());
    if (!target)
        return CKxError::Success();
    FSLOG(5, "item '%s' is not processed. will add to sym-link WUM", target->GetSourceFullyQualifiedItemName().c_str());
    // Target, link and owner, each ended by a NUL, which no path holds.
    const auto* link = dynamic_cast<const CFindFirstItem*>(item.get());
    std::string entry = QueueEntry(*target);
    entry.push_back('\0');
    entry += item->GetSourceFullyQualifiedItemName();
    entry.push_back('\0');
    entry += std::to_string(link ? link->GetOwnerId() : static_cast<uid_t>(-1));
    return Push(m_symLinkQueue, entry, false);
}

CKxError CScanJobCallback::OnLongPath(const CItemPtr& item, const std::string& volume)
{
    std::string entry = QueueEntry(*item);
    entry += kSrcVolOpen;
    entry += volume;
    entry += kSrcVolClose;
    return Push(m_longPathQueue, entry, true);
}

CKxError CScanJobCallback::OnNewMountPath(const CItemPtr& item)
{
    const std::string entry = QueueEntry(*item);
    FSLOG(0, "Adding path to NewMountPath queue %s", entry.c_str());
    return Push(m_newMountPathQueue, entry, true);
}

CKxError CScanJobCallback::GetItemFromSymLink(const CItemPtr&, CItemPtr& target)
{
    target.reset();
    return CKxError::Success();
}

CKxError CScanJobCallback::PopNewMountPaths(std::vector<std::string>& paths) { return PopAll(m_newMountPathQueue, paths); }

CKxError CScanJobCallback::PopSymLinkTargets(std::vector<SSymLinkTarget>& targets)
{
    std::vector<std::string> entries;
    KX_RETURN_IF_ERROR(PopAll(m_symLinkQueue, entries));
    for (const std::string& entry : entries) {
        // Written by OnSymLink alone: the two NULs are there.
        const size_t linkStart = entry.find('\0') + 1;
        const size_t linkEnd = entry.find('\0', linkStart);
        SSymLinkTarget target{entry.substr(0, linkStart - 1), entry.substr(linkStart, linkEnd - linkStart),
                              static_cast<uid_t>(-1)};
        std::from_chars(entry.data() + linkEnd + 1, entry.data() + entry.size(), target.linkOwner);
        targets.push_back(std::move(target));
    }
    return CKxError::Success();
}

CKxError CScanJobCallback::PopLongPaths(std::vector<std::string>& paths) { return PopAll(m_longPathQueue, paths); }
