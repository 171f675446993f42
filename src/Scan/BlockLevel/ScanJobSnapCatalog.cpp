#include "Scan/BlockLevel/ScanJobSnapCatalog.h"

#include "Agent/Arguments.h"
#include "Agent/sSnapBackupManager.h"
#include "Base/DecimalText.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/LogWriter.h"
#include "Base/OutputSync.h"
#include "Base/TimeStamp.h"
#include "Engine/ContentMapper.h"
#include "Scan/BlockLevel/ScanJobSnapCatalogCallback.h"
#include "Scan/FileNameFactory.h"
#include "Scan/OutputResources.h"
#include "Scan/PostProcessingOptions.h"
#include "Scan/ScanJobCallback.h"
#include "Scan/ScannerConfigurationBagId.h"

namespace Id = SXScannerConfigurationBagId;

namespace {
constexpr std::uint32_t kFullBackup = 1;

// An option's value as seconds; a value that is not a whole non-negative number is refused.
CKxError ReadSeconds(const CCommandLineArguments& args, const char* name, bool& found, unsigned long long& seconds)
{
    std::string value;
    found = args.GetOption(name, value);
    if (found && !DecimalText::ParseUnsigned(value, seconds))
        return CKxError(KxCode::InvalidParameter,
                        KxFormat("Option [-%s] value [%s] is not a time in seconds", name, value.c_str()));
    return CKxError::Success();
}
}  // namespace

CKxError CScanJobSnapCatalog::ProcessCommandLine(const CCommandLineArgumentsPtr& args)
{
    FSTRACE();
    KX_RETURN_IF_ERROR(CScanJobFileSystem::ProcessCommandLine(args));
    KX_RETURN_IF_FAILED(CArguments::GetDepotnodeName(args, m_storageServer), "GetDepotnodeName failed");
    if (args->GetOption("ltr")) {
        FSLOG(0, "ltr is set");
        (void)args->GetOption("ltr", m_ltr);
    }

    bool found = false;
    unsigned long long seconds = 0;
    KX_RETURN_IF_ERROR(ReadSeconds(*args, "snapRefTime", found, seconds));
    if (!found && !m_refTimeOptional) {
        static const char* const kMissing = "The Catalog phase require argument --snapRefTime";
        FailPhase(kMissing);  // the operator reads it in the job manager's failure report
        return CKxError(KxCode::InvalidParameter, kMissing);
    }
    if (!found)
        KX_RETURN_IF_ERROR(ReadSeconds(*args, "iRef", found, seconds));
    if (found) {
        if (m_backupType != kFullBackup) {
            m_snapRefTime = static_cast<std::uint32_t>(seconds);
            FSLOG(0, "=== SNAP JOB REFERENCE TIME is %s ===",
                  CTimeStamp(static_cast<std::int64_t>(seconds)).AsLocalString().c_str());
        }
        // The job "starts" when the snapshot was taken: the backup phase's "-r", and with it the
        // next job's reference time, is the snapshot's time, full jobs included.
        KX_RETURN_IF_ERROR(CommandLineBag().Write(Id::idScanStartTime, static_cast<long long>(seconds)));
    }
    m_jobIdCopy = m_jobId;

    if (!args->GetOption("dcfreezed"))
        m_dcFreezed = false;
    bool pcr = false;
    KX_RETURN_IF_ERROR(ReadSeconds(*args, "pcr", pcr, seconds));
    if (pcr)
        m_snapRefTime = static_cast<std::uint32_t>(seconds);
    if (args->GetOption("amsd"))
        m_autoMount = true;
    return CKxError::Success();
}

CKxError CScanJobSnapCatalog::LoadSnapBackupManager()
{
    if (!m_snapManager) {
        const std::string file = CsSnapBackupManager::FileOf(m_jobIdCopy);
        CsSnapBackupManagerPtr loaded;
        CKxError error = CsSnapBackupManager::Load(file, loaded);
        if (error.Code() == KxCode::NotFound) {
            FSLOG(0, "No snapshot manager for job %lld ([%s] is absent): the content is cataloged where it is",
                  static_cast<long long>(m_jobIdCopy), file.c_str());
            return CKxError::Success();
        }
        KX_RETURN_IF_FAILED(std::move(error), "Failed to load the snapshots of job %lld",
                            static_cast<long long>(m_jobIdCopy));
        m_snapManager = loaded;
    }
    auto mapper = std::make_shared<CContentMapper>();
    for (const ISnapBackupManager::SVolume& volume : m_snapManager->GetVolumes()) {
        if (!volume.mounted)
            return CKxError(KxCode::NotFound, KxFormat("The snapshot [%s] of [%s] is not mounted",
                                                       volume.snapshot.c_str(), volume.source.c_str()));
        FSLOG(0, "Snapshot of [%s] is mounted at [%s], archive id %lld", volume.source.c_str(),
              volume.snapshot.c_str(), volume.archiveId);
        mapper->AddMapping(volume.snapshot, volume.source);
    }
    if (m_callback)
        m_callback->SetContentMapper(std::move(mapper));
    return CKxError::Success();
}

CKxError CScanJobSnapCatalog::Configure()
{
    FSTRACE();
    KX_RETURN_IF_ERROR(LoadSnapBackupManager());
    CKxError configured = CScanJobFileSystem::Configure();
    // What an earlier job left must not be read as this job's, whether or not this phase goes on.
    if (m_fileNameFactory)
        KX_RETURN_IF_FAILED(FXFile::Remove(m_fileNameFactory->GetSnapInformation()),
                            "Failed to remove the earlier snapshot information file");
    KX_RETURN_IF_ERROR(std::move(configured));

    CBagPtr bag = GetConfigurationBag();
    if (!bag)
        return CKxError(KxCode::OperationAborted, "Bag is not initialized by ScannerOptions");
    bool follow = IsFollowMountPoints();
    if (bag->Has(Id::idFollowMount))
        KX_RETURN_IF_FAILED(bag->Read(Id::idFollowMount, follow), "Failed to get Follow MountPoint option state");
    SetFollowMountPoints(follow);
    FSLOG(0, "Follow MountPoint option [%s]", follow ? "ENABLED" : "DISABLED");
    return CKxError::Success();
}

CKxError CScanJobSnapCatalog::Prepare()
{
    FSTRACE();
    CBagPtr bag = GetConfigurationBag();
    if (!bag)
        return CKxError(KxCode::OperationAborted, "Bag is not initialized by ScannerOptions");
    // Written before the file-system job's preparation, which reads both.
    KX_RETURN_IF_ERROR(bag->Write(Id::idFollowSymLink, false));
    FSLOG(0, "Follow symbolic links path is disabled for Snap jobs");
    KX_RETURN_IF_ERROR(bag->Write(Id::idHardLinkEnable, false));
    FSLOG(0, "HardLink Backup and Restore disabled for Snap jobs");
    KX_RETURN_IF_ERROR(GetDCFreezeForSnapJob());
    KX_RETURN_IF_ERROR(CScanJobFileSystem::Prepare());

    CScanJobSnapCatalogCallback::ArchFileSourcePathMap sources;
    if (m_snapManager)
        for (const ISnapBackupManager::SVolume& volume : m_snapManager->GetVolumes())
            sources.emplace(volume.archiveId, volume.source);
    if (auto callback = std::dynamic_pointer_cast<CScanJobSnapCatalogCallback>(m_callback))
        callback->SetSnapArchFileSourcePathMap(std::move(sources));
    return CKxError::Success();
}

CKxError CScanJobSnapCatalog::GetDCFreezeForSnapJob()
{
    // This agent keeps no job-information metadata of snapshot jobs: whether the record was
    // frozen with the snapshot is what the command line says ("-dcfreezed").
    FSLOG(0, "Couldn't get idDCFreezeDoneByZVFSSnap option, likely it is not set");
    CBagPtr bag = GetConfigurationBag();
    if (!bag)
        return CKxError(KxCode::OperationAborted, "Bag is not initialized by ScannerOptions");
    KX_RETURN_IF_ERROR(bag->Write(Id::idDCFreezeDoneByZVFSSnap, m_dcFreezed));
    FSLOG(0, "DC freeze is set to: %s", m_dcFreezed ? "True" : "False");
    return CKxError::Success();
}

CKxError CScanJobSnapCatalog::AddAncestorsToArchiveCollectFile(bool) { return CKxError::Success(); }

CKxError CScanJobSnapCatalog::Cleanup()
{
    FSTRACE();
    FSLOG(10, "m_bFailPhase value = %d", isFailPhaseSet() ? 1 : 0);
    if (CKxError error = AddAncestorsToArchiveCollectFile(); error.IsError()) {
        FSLOG_ERROR("AddAncestorsToArchiveCollectFile error %s", error.AsString().c_str());
        FailPhase(error.OneLine());
    }
    if (CKxError error = CScanJobFileSystem::Cleanup(); error.IsError()) {
        FSLOG_ERROR("Inherited::Cleanup - Error %s", error.AsString().c_str());
        FailPhase(error.OneLine());
    }
    if (!m_snapManager)
        return CKxError::Success();
    if (!isFailJobSet() && !isFailPhaseSet()) {
        if (CKxError error = SaveSnapInformation(); error.IsError()) {
            FSLOG_ERROR("SaveSnapInformation - Error %s", error.AsString().c_str());
            FailPhase(error.OneLine());
        }
    }
    if (isFailJobSet() || isFailPhaseSet()) {
        if (CKxError error = m_snapManager->Unmount(); error.IsError())
            FSLOG_ERROR("Fail to un-mount snap:%s", error.AsString().c_str());
    }
    return CKxError::Success();
}

CKxError CScanJobSnapCatalog::SaveSnapInformation()
{
    FSTRACE();
    if (!m_callback || !m_fileNameFactory)
        return CKxError(KxCode::OperationAborted, "The job has no callback or results folder");
    SScanStats stats;
    KX_RETURN_IF_ERROR(m_callback->GetScanStats(stats));
    int streams = m_callback->GetNumStreams();
    if (streams < 1 && m_postProcessingOptions)
        streams = m_postProcessingOptions->getNumberOfStreamsConfigured();
    if (streams < 1)
        streams = 1;
    std::string text = KxFormat("nStream %d\nnextCollectFileNum %u\nskipCol 0\nSizeofbackup %lld\n", streams,
                                static_cast<unsigned>(stats.outputResources), static_cast<long long>(stats.totalItems));
    for (const COutputResourcesPtr& resource : m_callback->GetOutputResourcesList()) {
        const std::string& source = resource->GetSourceVolumePath();
        const int collect = resource->GetCollectNumber();
        long long archiveId = 0;
        CKxError found = m_snapManager->GetArchiveIdForSourcePath(source, archiveId);
        if (found.IsSuccess()) {
            FSLOG(0, "For collect [%d] with sourcePath [%s] archiveID is %lld", collect, source.c_str(), archiveId);
            text += KxFormat("collect2archid %d %lld\n", collect, archiveId);
        } else if (found.Code() == KxCode::NotFound) {
            FSLOG(0, "ArhciveID not found for source path [%s] collect file %d", source.c_str(), collect);
        } else {
            FSLOG_ERROR("GetArchvieIDForSourcePath fail for source path [%s] collect file %d : %s", source.c_str(),
                        collect, found.AsString().c_str());
        }
    }
    // Read by the backup phase after this process is gone: on disk, name included, before the
    // job manager hears that the phase succeeded.
    const std::string path = m_fileNameFactory->GetSnapInformation();
    if (CKxError written = FXFile::WriteFileAtomically(path, text); written.IsError()) {
        FSLOG_ERROR("Fail to save SNAP information:%s", written.AsString().c_str());
        return std::move(written.Push(KxFormat("Fail to open SNAP information file [%s]", path.c_str())));
    }
    return COutputSync::SyncFolder(FXPath::Parent(path));
}
