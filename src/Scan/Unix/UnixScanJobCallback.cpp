#include "Scan/Unix/UnixScanJobCallback.h"

#include "Base/FXPath.h"
#include "Base/FunctionTrace.h"
#include "Base/LogWriter.h"
#include "CollectFile/FlatCollectFile.h"
#include "Engine/ConsumerAnswer.h"
#include "Engine/DataClassificationScanEngine.h"
#include "Engine/DirChangeCollectItemConsumer.h"
#include "Engine/FastFindFirstScanEngine.h"
#include "Engine/FilterTerm.h"
#include "Engine/FindFirstItem.h"
#include "Engine/FindFirstScanEngine.h"
#include "Engine/GpfsScanEngine.h"
#include "Engine/HadoopScanEngine.h"
#include "Engine/RawDeviceScanEngine.h"
#include "Engine/WorkUnit.h"
#include "Scan/AdHocFileNameFactory.h"
#include "Scan/AppleDoubleConsumer.h"
#include "Scan/BackupAfterDateConsumer.h"
#include "Scan/ContentRootAncestorConsumer.h"
#include "Scan/DirChangeFile.h"
#include "Scan/ExtentLevelBackupConsumer.h"
#include "Scan/FileSystemScanFailureConsumer.h"
#include "Scan/ForceFullScanConsumer.h"
#include "Scan/HardLink/HardLinkInterfaceV1.h"
#include "Scan/HardLink/HardLinkInterfaceV2.h"
#include "Scan/HardLink/HardLinkManager.h"
#include "Scan/HardLink/HardLinkSplitCollectFiles.h"
#include "Scan/LongPathConsumer.h"
#include "Scan/PostProcessCollectFiles.h"
#include "Scan/PostProcessingOptions.h"
#include "Scan/RawDeviceConsumer.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/ScannerSettings.h"
#include "Scan/SkipFSConsumer.h"
#include "Scan/SymLinkConsumer.h"
#include "Scan/UserCentricSkipConsumer.h"
#include "Scan/Unix/BackupStatusFile.h"
#include "Scan/Unix/UnixFileNameFactory.h"
#include "Scan/Unix/UnixScannerOptions.h"
#include "Scan/Unix/UnixMultiStreamExtentSplitCollectFiles.h"
#include "Scan/Unix/UnixPostProcessResultFolder.h"
#include "Scan/Unix/UnixSplitCollectFiles.h"
#include "Scan/Unix/VolumeId.h"
#include "Scan/Unix/isNestedMount.h"
#include "Scan/Unix/skipFS.h"

#include <any>
#include <cerrno>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace Id = SXScannerConfigurationBagId;

CUnixScanJobCallback::CUnixScanJobCallback() : m_fileSystems(std::make_shared<skipFS>()) {}

CUnixScanJobCallback::~CUnixScanJobCallback() = default;

std::string CUnixScanJobCallback::AsString() const { return "UnixScanJobCallback"; }

std::shared_ptr<CScannerOptions> CUnixScanJobCallback::MakeScannerOptions()
{
    return std::make_shared<CUnixScannerOptions>();
}

std::shared_ptr<CFileNameFactory> CUnixScanJobCallback::MakeFileNameFactory(unsigned int backupType,
                                                                            const std::string& resultsFolder)
{
    CBagPtr bag = GetScannerConfigurationBag();
    if (bag && bag->GetBool(Id::idOnDemandAdHocBackupJob))
        return std::make_shared<CAdHocFileNameFactory>(backupType, resultsFolder);
    return std::make_shared<CUnixFileNameFactory>(backupType, resultsFolder);
}

CKxError CUnixScanJobCallback::GetPostProcessingOptionsInstance(std::shared_ptr<CPostProcessingOptions>& options)
{
    const bool created = !m_postProcessingOptions;
    KX_RETURN_IF_ERROR(CScanJobCallback::GetPostProcessingOptionsInstance(options));
    CBagPtr bag = GetScannerConfigurationBag();
    if (created && options && bag && bag->GetBool("SC:MultipleReadersWithinSameMount"))
        options->SetMultipleReads();
    return CKxError::Success();
}

CKxError CUnixScanJobCallback::GetNextPhaseArguments(std::string& arguments, int& action)
{
    KX_RETURN_IF_ERROR(CScanJobCallback::GetNextPhaseArguments(arguments, action));
    CBagPtr bag = GetScannerConfigurationBag();
    if (!bag)
        return CKxError::Success();

    if (bag->GetBool(Id::idIndexV2))
        arguments += " -idx2";
    arguments += " -new_scan";
    if (bag->GetBool(Id::idSkipIncompleteLargeFileBrowse))
        arguments += " -slt";
    if (bag->GetBool(Id::idHadoopScan)) {
        const std::string user = bag->GetString(Id::idHadoopUser);
        arguments += KxFormat(" -hadoopURI %s %s%s ", bag->GetString(Id::idHadoopNameNodeHost).c_str(),
                              user.empty() ? "" : "-hadoopUser ", user.c_str());
    }
    const std::int64_t extentSize = CScannerSettings::GetInteger(*bag, Id::idExtentSize, 0);
    if (extentSize != 0)
        arguments += KxFormat(" -LFEExtsz %llu ", static_cast<unsigned long long>(extentSize));
    if (bag->GetBool(Id::idGpfsSnap))
        arguments += " -nsnap ";
    const std::int64_t impersonateUid = CScannerSettings::GetInteger(*bag, Id::idImpersonateUID, 0);
    if (impersonateUid != 0)
        arguments += KxFormat(" -impersonateUID %u ", static_cast<unsigned>(impersonateUid));
    if (bag->GetBool(Id::idIsDefaultSCContentRoot)) {
        FSLOG(0, "This is a default subclient with root content. So Adding phase argument -MntDetails for backup "
                 "phase to backup the mount points");
        arguments += " -MntDetails ";
    }
    arguments += bag->GetBool(Id::idHardLinkEnable) ? " -hlon " : " -hloff ";
    if (bag->GetBool(Id::idMultiStreamExtentBackup))
        arguments += " -msExtBkp ";
    const std::int64_t containerCollectId = CScannerSettings::GetInteger(*bag, Id::idContainerCollectId, 0);
    if (containerCollectId != 0)
        arguments += KxFormat(" -CCId %d ", static_cast<int>(containerCollectId));
    if (bag->GetBool(Id::idAutoMountRequired) && !bag->GetBool(Id::idDistributedFSMode))
        arguments += " -amr ";
    return CKxError::Success();
}

// ---- Output handler and chain ------------------------------------------------------------

CKxError CUnixScanJobCallback::CreateOutputResource(int index, const std::string& volume,
                                                    const std::string& sourceVolume, const std::string& volumeId,
                                                    COutputResourcesPtr& resource)
{
    FSLOG(0, "Will allocate new resources for source volume '%s' volumeID '%s' with index %d", sourceVolume.c_str(),
          volumeId.c_str(), index);
    std::shared_ptr<CFlatCollectFile> collect;
    KX_RETURN_IF_FAILED(GetFlatCollectFile(collect, kWorkUnitCollect, index, volume),
                        "Failed to create the collect file of volume '%s'", sourceVolume.c_str());
    resource = std::make_shared<COutputResources>(index, sourceVolume, volumeId);
    resource->SetCollectConsumer(collect);
    // Every item of the volume is recorded for the next job, with this collect file's number.
    CItemConsumerPtr record;
    KX_RETURN_IF_FAILED(MakeDirChangeConsumer(index, record), "Failed to create the directory-change writer of volume '%s'",
                        sourceVolume.c_str());
    resource->SetDirChangeConsumer(record);
    resource->SetAncestorConsumer(CreateAncestorConsumer(collect));
    FSLOG(0, "Adding output resource at index[%d] for volume[%s] ID[%s]", index, sourceVolume.c_str(),
          volumeId.c_str());
    return CKxError::Success();
}

CKxError CUnixScanJobCallback::MakeDirChangeConsumer(int index, CItemConsumerPtr& record)
{
    CBagPtr bag = GetScannerConfigurationBag();
    return CDirChangeFile::GetDirChange(index, index, bag && bag->GetBool(Id::idTrueUpQualified), false, record,
                                        m_jobId);
}

std::shared_ptr<CContentRootAncestorConsumer> CUnixScanJobCallback::CreateAncestorConsumer(
    const std::shared_ptr<CFlatCollectFile>& collect)
{
    return std::make_shared<CContentRootAncestorConsumer>(m_jobId, collect);
}

CKxError CUnixScanJobCallback::GetOutputHandler(const std::string& volume, CConsumerOutputHandlerPtr& handler)
{
    handler.reset();
    CBagPtr bag = GetScannerConfigurationBag();
    if (!bag)
        return CKxError(KxCode::OperationAborted, "Bag is not initialized by ScannerOptions");

    std::string sourceVolume = m_contentMapper ? m_contentMapper->GetSourceVolumeName(volume) : volume;
    if (sourceVolume.empty())
        sourceVolume = volume;
    std::string volumeId;
    KX_RETURN_IF_FAILED(CVolumeId::Get(volume, volumeId), "Failed to get the id of volume '%s'", volume.c_str());
    FSLOG(3, "Volume ID is '%s' for local path '%s'", volumeId.c_str(), volume.c_str());

    COutputResourcesPtr resource;
    bool created = false;
    KX_RETURN_IF_FAILED(FindOrAddOutputResource(
                            volumeId,
                            [&](int index, COutputResourcesPtr& made) {
                                return CreateOutputResource(index, volume, sourceVolume, volumeId, made);
                            },
                            resource, created),
                        "Failed to create the output resources of volume '%s'", volume.c_str());
    if (!created)
        FSLOG(3, "Will reuse previously created resources for source volume '%s' volumeID '%s' with index %d",
              sourceVolume.c_str(), volumeId.c_str(), resource->GetCollectNumber());

    CItemEvaluatorPtr evaluator;
    KX_RETURN_IF_FAILED(GetBackupJobTypeEvaluator(volume, evaluator), "Failed to get the evaluator of '%s'",
                        volume.c_str());

    // Innermost first: each link built wraps the chain so far and sees items before it.
    auto stage = std::make_shared<CDirChangeCollectItemConsumer>(m_jobId, std::make_shared<CItemEvaluator>(),
                                                                 resource->GetDirChangeConsumer(), evaluator,
                                                                 resource->GetCollectConsumer());
    stage->SetAncestorConsumer(resource->GetAncestorConsumer());
    CItemConsumerPtr head = stage;
    KX_RETURN_IF_ERROR(CreateAndAddHardLinkInterface(resource->GetCollectNumber(), head));
    KX_RETURN_IF_ERROR(CreateAndAddFileCTimeConsumer(head));
    KX_RETURN_IF_ERROR(CreateAndAddExtentLevelBackupConsumer(head));
    if (bag->GetBool(Id::idAppleDouble))
        if (CKxError apple = CreateAndAddAppleDoubleConsumer(volume, head); apple.IsError())
            FSLOG(0, "%s", apple.Message().c_str());
    if (bag->GetBool(Id::idFollowSymLink)) {
        head = std::make_shared<CSymLinkConsumer>(head, *this, m_jobId);
        KX_RETURN_IF_FAILED(EnableSymLink(), "Failed to enable symbolic-link following");
    }
    if (bag->GetBool(Id::idLongPathFlag) && !bag->GetBool(Id::idIsLongPathScan))
        head = std::make_shared<CLongPathConsumer>(head, *this, bag->GetBool(Id::idProcessLongPaths), volume, m_jobId);
    FSLOG(3, bag->GetBool(Id::idHardLinkEnable) ? "Hard-link is enabled" : "Hard-link is not enabled");
    if (bag->GetBool(Id::idForceFullScan)) {
        std::vector<std::string> paths;
        std::any value;
        if (bag->ReadAny(Id::idForceFullScanContents, value).IsSuccess()) {
            if (const auto* list = std::any_cast<std::vector<std::string>>(&value))
                paths = *list;
            else if (const auto* text = std::any_cast<std::string>(&value))
                for (size_t start = 0; start < text->size();) {
                    const size_t end = std::min(text->find('\n', start), text->size());
                    if (end > start)
                        paths.push_back(text->substr(start, end - start));
                    start = end + 1;
                }
        }
        FSLOG(0, "Creating Force Full Consumer, [%d] new paths", static_cast<int>(paths.size()));
        head = std::make_shared<CForceFullScanConsumer>(head, std::move(paths), m_jobId);
    }
    if (const long long afterDate = CScannerSettings::GetInteger(*bag, Id::idBackupAfterDate, 0); afterDate != 0) {
        head = std::make_shared<CBackupAfterDateConsumer>(head, CTimeStamp(afterDate), bag->GetBool(Id::idUseMTime, true),
                                                          bag->GetBool(Id::idUseCTime, true), m_jobId);
        FSLOG(0, "Added backup after date filter");
    }
    head = std::make_shared<CRawDeviceConsumer>(head, m_jobId);
    KX_RETURN_IF_ERROR(CreateAndAddSkipFSConsumer(volume, head));
    KX_RETURN_IF_ERROR(CreateAndAddUserCentricSkipConsumer(head));
    handler = std::make_shared<CConsumerOutputHandler>(head);
    return CKxError::Success();
}

CKxError CUnixScanJobCallback::CreateAndAddSkipFSConsumer(const std::string& volume, CItemConsumerPtr& head)
{
    CBagPtr bag = GetScannerConfigurationBag();
    if (!bag || bag->GetBool(Id::idHadoopScan) || bag->GetBool(Id::idDontCreateSkipFSConsumer) ||
        CScannerSettings::GetInteger(*bag, Id::idClientAppType, 0) == 2)
        return CKxError::Success();
    bool skip = false;
    struct stat status {};
    std::string fsType;
    if (CKxError typed = m_fileSystems->GetFsType(volume, skip, status, fsType); typed.IsError()) {
        FSLOG(0, "stat failed for %s, error %d", volume.c_str(), static_cast<int>(typed.Code()));
        return std::move(typed.Push(KxFormat("stat failed for %s", volume.c_str())));
    }
    const std::uint64_t device = static_cast<std::uint64_t>(status.st_dev);
    FSLOG(3, "localvolume [%s], DeviceID [%llu], FsType [%s]", volume.c_str(), static_cast<unsigned long long>(device),
          fsType.c_str());
    std::string volumeName;
    if (CKxError named = m_fileSystems->GetVolumeName(volume, volumeName); named.IsError())
        FSLOG(0, "Failed to get volume name for [%s], Error [%s]", volume.c_str(), named.AsString().c_str());
    head = std::make_shared<CSkipFSConsumer>(head, *this, m_jobId, device, volume, fsType, volumeName, m_fileSystems);
    return CKxError::Success();
}

CKxError CUnixScanJobCallback::CreateAndAddAppleDoubleConsumer(const std::string& volume, CItemConsumerPtr& head)
{
    if (m_fileSystems->Refresh().IsError())
        return CKxError(KxCode::UnknownProduct, "Failed to find mounted file system list, Apple double support "
                                                "cannot not be enabled for this job.");
    SMountEntry entry;
    if (m_fileSystems->FindMount(volume, nullptr, entry).IsError() || entry.fsType.empty())
        return CKxError(KxCode::UnknownProduct, "Failed to find current file system type in mounted file system "
                                                "list, Apple double support cannot be enabled for this job.");
    if (entry.fsType.starts_with("hfs"))
        return CKxError(KxCode::UnknownProduct,
                        KxFormat("Apple double consumer not needed for %s filesystem. Apple double details will be "
                                 "collected in backup phase",
                                 entry.fsType.c_str()));
    head = std::make_shared<CAppleDoubleConsumer>(head, m_jobId);
    return CKxError::Success();
}

CKxError CUnixScanJobCallback::CreateAndAddUserCentricSkipConsumer(CItemConsumerPtr& head)
{
    CBagPtr bag = GetScannerConfigurationBag();
    if (!bag || !bag->GetBool(Id::idUserCentricClientImpersonate))
        return CKxError::Success();
    const auto uid = static_cast<std::uint32_t>(CScannerSettings::GetInteger(*bag, Id::idUserCentricClientImpersonateUid, 0));
    FSLOG(0, "Creating UserCentricSkipConsumer uid [%lu]", static_cast<unsigned long>(uid));
    head = std::make_shared<CUserCentricSkipConsumer>(head, uid, m_jobId);
    return CKxError::Success();
}

CKxError CUnixScanJobCallback::CreateAndAddExtentLevelBackupConsumer(CItemConsumerPtr& head)
{
    CBagPtr bag = GetScannerConfigurationBag();
    if (!bag || !bag->GetBool(Id::idMultiStreamExtentBackup) || bag->GetBool(Id::idHadoopScan))
        return CKxError::Success();
    const long long threshold = CScannerSettings::GetInteger(*bag, Id::idExtentBackupFileSize, 0);
    if (threshold == 0)
        return CKxError::Success();
    head = std::make_shared<CExtentLevelBackupConsumer>(
        head, bag->GetBool(Id::idHardLinkEnable), static_cast<std::uint64_t>(threshold),
        bag->GetString(Id::idExtentBackupFileExtentSlabsKey), bag->GetBool(Id::idExtentFeatureEnabledExplicitly),
        m_jobId);
    return CKxError::Success();
}

CKxError CUnixScanJobCallback::CreateAndAddHardLinkInterface(int collectNumber, CItemConsumerPtr& head)
{
    CBagPtr bag = GetScannerConfigurationBag();
    if (!bag || !bag->GetBool(Id::idHardLinkEnable))
        return CKxError::Success();
    if (!std::dynamic_pointer_cast<CUnixFileNameFactory>(m_fileNameFactory)) {
        FSLOG(0, "Unsupported name factory. Hard Link can't be supported.");
        return bag->Write(Id::idHardLinkEnable, false);
    }
    const bool indexV2 = bag->GetBool(Id::idIndexV2);
    {
        std::lock_guard<std::mutex> lock(m_hardLinkLock);
        // With the newer index every name is in the hard-link files; with the older one the names
        // stay in the ordinary collect files and the hard-link files name each file once.
        if (!m_hardLinkManager)
            m_hardLinkManager = std::make_shared<HardLinkManager>(m_fileNameFactory, indexV2);
    }
    if (indexV2)
        head = std::make_shared<CHardLinkInterfaceV2>(head, m_hardLinkManager, collectNumber, m_jobId);
    else
        head = std::make_shared<CHardLinkInterfaceV1>(head, m_hardLinkManager, collectNumber, m_jobId);
    return CKxError::Success();
}

CKxError CUnixScanJobCallback::GetScanEngineList(CScanEngineList& engines)
{
    engines.clear();
    CBagPtr bag = GetScannerConfigurationBag();
    if (bag && bag->GetBool(Id::idHadoopScan)) {
        engines.push_back(std::make_shared<CHadoopScanEngine>());
        return CKxError::Success();
    }
    engines.push_back(std::make_shared<CRawDeviceScanEngine>());
    if (bag && bag->GetBool(Id::idGpfsScan))
        engines.push_back(std::make_shared<CGpfsScanEngine>());
    engines.push_back(std::make_shared<CDataClassificationScanEngine>());
    engines.push_back(std::make_shared<CFastFindFirstScanEngine>());
    engines.push_back(std::make_shared<CFindFirstScanEngine>());
    return CKxError::Success();
}

CKxError CUnixScanJobCallback::GetOutputResources(const std::string& volume, CItemConsumerPtr& collect,
                                                  CItemConsumerPtr& dirChange, CItemEvaluatorPtr& evaluator,
                                                  CItemConsumerPtr& ancestors)
{
    collect.reset();
    dirChange.reset();
    evaluator.reset();
    ancestors.reset();
    std::string volumeId;
    KX_RETURN_IF_FAILED(CVolumeId::Get(volume, volumeId), "Failed to get the id of volume '%s'", volume.c_str());
    FSLOG(3, "Looking for output resource for volume[%s] volumeId[%s]", volume.c_str(), volumeId.c_str());
    COutputResourcesPtr resource = FindOutputResource(volumeId);
    if (!resource)
        return CKxError(ENOENT, KxFormat("outputResource not found for sourceVolume[%s] ID[%s]", volume.c_str(),
                                         volumeId.c_str()));
    KX_RETURN_IF_ERROR(GetBackupJobTypeEvaluator(volume, evaluator));
    collect = resource->GetCollectConsumer();
    dirChange = resource->GetDirChangeConsumer();
    ancestors = resource->GetAncestorConsumer();
    return CKxError::Success();
}

CKxError CUnixScanJobCallback::GetFlatCollectFile(std::shared_ptr<CFlatCollectFile>& collect, int type, int index,
                                                  const std::string& volume)
{
    collect.reset();
    if (type == kFailedItemsList)
        return CKxError(KxCode::InvalidParameter,
                        "The failed-items list is not a collect file; it is reached through the failure consumer");
    if (type != kWorkUnitCollect) {
        FSLOG_ERROR("unknown file type %d", type);
        return CKxError(KxCode::InvalidParameter, KxFormat("unknown file type %d", type));
    }
    if (!m_fileNameFactory)
        return CKxError(KxCode::NotFound, "No results-file names for the collect file");
    auto made = std::make_shared<CFlatCollectFile>(m_jobId, m_fileNameFactory->WorkUnitCollect(index), volume);
    // With one stream the split cuts nothing by data size: the lines are written in their final
    // form, and the disk may take them while the walk goes on. Not with extents: they multiply
    // the pieces, and the split then cuts by the sizes in the lines.
    std::shared_ptr<CPostProcessingOptions> options;
    CBagPtr bag = GetScannerConfigurationBag();
    const bool extents = bag && bag->GetBool(Id::idMultiStreamExtentBackup);
    if (!extents && GetPostProcessingOptionsInstance(options).IsSuccess() && options &&
        options->GetCollectFileSplitCount() == 1) {
        made->SetSizesInLines(false);
        made->File().SetStartWriteBack(true);
    }
    KX_RETURN_IF_ERROR(made->Open(false));
    collect = std::move(made);
    return CKxError::Success();
}

// ---- Symbolic links and failures ----------------------------------------------------------

namespace {
// "/a/./b//c/../d" -> "/a/b/d"; ".." above "/" stays at "/".
std::string NormalizeAbsolute(const std::string& path)
{
    std::vector<std::string_view> parts;
    std::string_view rest = path;
    while (!rest.empty()) {
        const size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string normal;
    for (std::string_view part : parts) {
        normal.push_back('/');
        normal.append(part);
    }
    return normal.empty() ? "/" : normal;
}
}  // namespace

CKxError CUnixScanJobCallback::GetItemFromSymLink(const CItemPtr& item, CItemPtr& target)
{
    target.reset();
    const std::string& local = item->GetLocalFullyQualifiedItemName();
    std::string text(4096, '\0');
    while (true) {
        const ssize_t length = ::readlink(local.c_str(), text.data(), text.size());
        if (length < 0) {
            const int error = errno;
            item->SetErrorNumber(error);
            return CKxError::FromErrno(error, KxFormat("Failed to read sym-link '%s'", local.c_str()));
        }
        if (static_cast<size_t>(length) < text.size()) {
            text.resize(static_cast<size_t>(length));
            break;
        }
        text.resize(text.size() * 2);
    }
    if (text.starts_with("./"))
        text.erase(0, 2);
    std::string absolute = text.starts_with("/") ? text : FXPath::Append(item->GetLocalParentPath(), text);
    absolute = NormalizeAbsolute(absolute);
    struct stat status {};
    if (::stat(absolute.c_str(), &status) != 0) {
        FSLOG(5, "Target '%s' of sym-link '%s' cannot be read, errno %d", absolute.c_str(), local.c_str(), errno);
        return CKxError::Success();
    }
    target = std::make_shared<CFindFirstItem>(absolute, GetSourcePath(absolute), status, item->GetWorkUnitBag());
    return CKxError::Success();
}

CKxError CUnixScanJobCallback::ReportScanFailure(const CItemPtr& item, const CKxError& error)
{
    std::string path = item->GetSourceFullyQualifiedItemName();
    if (item->IsFolder() && (path.empty() || path.back() != '/'))
        path.push_back('/');
    return ReportScanFailure(path, error);
}

CKxError CUnixScanJobCallback::ReportScanFailure(const std::string& path, const CKxError& error)
{
    CScanFailureConsumerPtr failures;
    CKxError got = GetScanFailureConsumer(failures);
    if (got.IsError() || !failures) {
        static std::once_flag once;
        std::call_once(once, [] { FSLOG(0, "Reporting scan failures is not supported"); });
        FSLOG_ERROR("Scan failure for '%s': %s", path.c_str(), error.AsString().c_str());
        return CKxError::Success();
    }
    const bool isFolder = !path.empty() && path.back() == '/';
    const std::string name = FXPath::TrimTrailingSlashes(path);
    auto placeholder = std::make_shared<CItem>(name, isFolder);
    placeholder->SetErrorNumber(
        static_cast<int>(error.Code() != 0 ? error.Code() : CFileSystemScanFailureConsumer::kDefaultErrorCode));
    if (CKxError recorded = failures->Process(placeholder); recorded.IsError())
        FSLOG_ERROR("Failed to report '%s' into scan failures, error='%s'", path.c_str(), recorded.AsString().c_str());
    return CKxError::Success();
}

// ---- After the walk ---------------------------------------------------------------------

CKxError CUnixScanJobCallback::CreateStatusFile(const std::string& subclientResultsFolder)
{
    m_backupStatusFile = std::make_shared<CBackupStatusFile>(subclientResultsFolder);
    return CKxError::Success();
}

CKxError CUnixScanJobCallback::GetSplitCollectFileInterface(std::shared_ptr<ISplitCollectFiles>& splitter)
{
    splitter.reset();
    std::shared_ptr<CPostProcessingOptions> options;
    KX_RETURN_IF_FAILED(GetPostProcessingOptionsInstance(options), "Failed to get the post-processing options");
    if (!m_fileNameFactory)
        return CKxError(KxCode::NotFound, "No results-file names for the split");
    std::shared_ptr<HardLinkManager> hardLinks;
    {
        std::lock_guard<std::mutex> lock(m_hardLinkLock);
        hardLinks = m_hardLinkManager;
    }
    CBagPtr bag = GetScannerConfigurationBag();
    if (hardLinks)
        splitter = std::make_shared<CHardLinkSplitCollectFiles>(options, m_fileNameFactory, OutputResourcesForCleanup(),
                                                                GetOutputResourceIndex(), bag, m_jobId,
                                                                std::move(hardLinks));
    else if (bag && bag->GetBool(Id::idMultiStreamExtentBackup))
        splitter = std::make_shared<CUnixMultiStreamExtentSplitCollectFiles>(
            options, m_fileNameFactory, OutputResourcesForCleanup(), GetOutputResourceIndex(), bag, m_jobId);
    else
        splitter = std::make_shared<CUnixSplitCollectFiles>(options, m_fileNameFactory, OutputResourcesForCleanup(),
                                                            GetOutputResourceIndex());
    return CKxError::Success();
}

CKxError CUnixScanJobCallback::GetPostProcessCollectFilesInterface(std::shared_ptr<CPostProcessCollectFiles>& postProcess)
{
    postProcess.reset();
    std::shared_ptr<CPostProcessingOptions> options;
    KX_RETURN_IF_FAILED(GetPostProcessingOptionsInstance(options), "Failed to get the post-processing options");
    std::vector<std::string> roots;
    for (const COutputResourcesPtr& resource : OutputResourcesForCleanup())
        if (auto ancestors = std::dynamic_pointer_cast<CContentRootAncestorConsumer>(resource->GetAncestorConsumer()))
            for (std::string& root : ancestors->GetRoots())
                roots.push_back(std::move(root));
    postProcess = std::make_shared<CPostProcessCollectFiles>(options, OutputResourcesForCleanup());
    postProcess->SetContentRoots(roots);
    return CKxError::Success();
}

CKxError CUnixScanJobCallback::GetPostProcessResultFolderInterface(
    std::shared_ptr<CFileSystemPostProcessResultFolder>& postProcess)
{
    postProcess = std::make_shared<CUnixPostProcessResultFolder>();
    return CKxError::Success();
}

std::string CUnixScanJobCallback::VolumeOf(const std::string& path)
{
    std::vector<SMountEntry> mounts;
    if (m_fileSystems->GetMounts(mounts).IsError())
        return "/";
    const isNestedMount holds(path);
    std::string nearest = "/";
    for (const SMountEntry& mount : mounts)
        if (mount.mountPoint.size() > nearest.size() && holds(mount.mountPoint))
            nearest = mount.mountPoint;
    return nearest;
}

CKxError CUnixScanJobCallback::ProcessEmptyScanContent(const std::vector<std::string>& contentPaths)
{
    FSTRACE();
    const std::vector<COutputResourcesPtr> resources = GetOutputResourcesList();
    for (const COutputResourcesPtr& resource : resources) {
        const CItemConsumerPtr& collect = resource->GetCollectConsumer();
        FSLOG(3, "Resource [%s] processedCount=%llu", resource->GetSourceVolumePath().c_str(),
              collect ? collect->getProcessedItemsCount() : 0ULL);
    }
    for (const std::string& content : contentPaths) {
        const bool wildcard = CFilterTerm::IsWildcardItem(content);
        const std::string path = CWorkUnit::GetWalkRootOf(content);
        if (wildcard)
            FSLOG(3, "Scan content without wildCard = %s", path.c_str());
        if (path.empty()) {
            if (wildcard)
                FSLOG(0, "GetFilterPrefix is empty");
            else
                FSLOG(0, "Content [%s] is malformed", content.c_str());
            continue;
        }
        bool reached = false;
        for (const COutputResourcesPtr& resource : resources)
            if (auto ancestors = std::dynamic_pointer_cast<CContentRootAncestorConsumer>(resource->GetAncestorConsumer()))
                reached = reached || ancestors->HasItemsFor(GetSourcePath(path));
        if (reached)
            continue;
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0) {
            // The walk has reported it already (a missing content path is a failure of its own).
            if (wildcard)
                FSLOG(0, "LoadRaw failed for wildcard scan path, ScanPath=%s", path.c_str());
            else
                FSLOG(3, "Content [%s] cannot be read, errno %d", path.c_str(), errno);
            continue;
        }
        FSLOG(3, " adding to itemsToCheck");
        FSLOG(3, "Item [%s]", path.c_str());
        const std::string volume = VolumeOf(path);
        FSLOG(3, "  adding to output handler %s", volume.c_str());
        CConsumerOutputHandlerPtr handler;
        if (CKxError got = GetOutputHandler(volume, handler); got.IsError()) {
            FSLOG_ERROR("GetOutputHandler failed");
            return std::move(got.Push(KxFormat("Output handler is unconfigured for volume '%s'", volume.c_str())));
        }
        auto item = std::make_shared<CFindFirstItem>(path, GetSourcePath(path), status);
        const CKxError answer = handler->Process(item);
        switch (CConsumerAnswer::Classify(answer, *item)) {
        case EConsumerAnswer::Taken:
        case EConsumerAnswer::DoNotEnter:
            break;
        case EConsumerAnswer::SourceFailure:
            KX_RETURN_IF_ERROR(ReportScanFailure(item, answer));
            break;
        case EConsumerAnswer::WriteFailure: {
            CKxError failed = answer;
            return std::move(failed.Push(KxFormat("Failed to add content [%s]", path.c_str())));
        }
        }
    }
    return CKxError::Success();
}

CKxError CUnixScanJobCallback::CreateMountConfigFile()
{
    FSLOG(3, "No mount configuration file is written: mount points reach the backup phase through the collect files");
    return CKxError::Success();
}
