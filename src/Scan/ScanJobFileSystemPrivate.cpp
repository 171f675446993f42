#include "Scan/ScanJobFileSystemPrivate.h"

#include "Base/LogWriter.h"
#include "Scan/ScanJobCallback.h"
#include "Scan/ScanJobFileSystem.h"
#include "Scan/SubclientContent.h"

#include <algorithm>
#include <cerrno>

CScanJobFileSystemPrivate::CScanJobFileSystemPrivate(CScanJobFileSystem* job) : m_job(job) {}

CScanJobFileSystemPrivate::~CScanJobFileSystemPrivate() = default;

std::string CScanJobFileSystemPrivate::AsString() const { return m_job ? m_job->AsString() : "ScanJob"; }

CKxError CScanJobFileSystemPrivate::FollowMountPoints(const CCommandLineArgumentsPtr&) { return CKxError::Success(); }
CKxError CScanJobFileSystemPrivate::ImpersonateUser() { return CKxError::Success(); }
CKxError CScanJobFileSystemPrivate::ImpersonateForUserCentricClient(const std::string&) { return CKxError::Success(); }
CKxError CScanJobFileSystemPrivate::RevertImpersonation() { return CKxError::Success(); }
CKxError CScanJobFileSystemPrivate::Configure_ExtentLevelBackup() { return CKxError::Success(); }
CKxError CScanJobFileSystemPrivate::Configure_MigrationAssistant() { return CKxError::Success(); }
CKxError CScanJobFileSystemPrivate::Configure_PostConfig() { return CKxError::Success(); }
CKxError CScanJobFileSystemPrivate::Configure_TrueUpJob() { return CKxError::Success(); }
CKxError CScanJobFileSystemPrivate::Prepare_CommitJobContainerItemsFromDB(const std::string&, long long)
{
    return CKxError::Success();
}
CKxError CScanJobFileSystemPrivate::Prepare_NativeSnap() { return CKxError::Success(); }
CKxError CScanJobFileSystemPrivate::Prepare_FileShareAutoMount() { return CKxError::Success(); }
CKxError CScanJobFileSystemPrivate::Mount_FileShareAutoMount(const ContentMapperAPIPtr&) { return CKxError::Success(); }
CKxError CScanJobFileSystemPrivate::Prepare_TrueUpBrowseIndex() { return CKxError::Success(); }
CKxError CScanJobFileSystemPrivate::Prepare_DistributedOVA() { return CKxError::Success(); }

CKxError CScanJobFileSystemPrivate::Run()
{
    if (!m_job)
        return CKxError(KxCode::InvalidParameter, "The private part has no scan job");
    return m_job->Run1();
}

CKxError CScanJobFileSystemPrivate::Cleanup_SaveBackupStatusFile() { return CKxError::Success(); }
CKxError CScanJobFileSystemPrivate::Cleanup_ProcessTrueUp() { return CKxError::Success(); }
CKxError CScanJobFileSystemPrivate::Cleanup_PostProcessCollectFiles() { return CKxError::Success(); }
CKxError CScanJobFileSystemPrivate::Cleanup_RenameDCAndOtherImportantFiles() { return CKxError::Success(); }
CKxError CScanJobFileSystemPrivate::Cleanup_IncrementalAfterSynthFull() { return CKxError::Success(); }
CKxError CScanJobFileSystemPrivate::Cleanup_NativeSnap() { return CKxError::Success(); }
CKxError CScanJobFileSystemPrivate::Cleanup_FileShareAutoMount() { return CKxError::Success(); }
CKxError CScanJobFileSystemPrivate::Cleanup_PostCleanup() { return CKxError::Success(); }
CKxError CScanJobFileSystemPrivate::Cleanup_MarkTrueUpComplete() { return CKxError::Success(); }
CKxError CScanJobFileSystemPrivate::ProcessIPhoto() { return CKxError::Success(); }
CKxError CScanJobFileSystemPrivate::PrintStaleMountList() { return CKxError::Success(); }
CKxError CScanJobFileSystemPrivate::ProcessScanContent_WriteInformation() { return CKxError::Success(); }

CKxError CScanJobFileSystemPrivate::ProcessSCContentFailedFile()
{
    if (!m_job || !m_job->GetSubclientContent())
        return CKxError::Success();
    const std::vector<std::string>& failed = m_job->GetSubclientContent()->GetFailedContentFiles();
    if (failed.empty())
        return CKxError::Success();
    // A content file that cannot be read is content the operator asked for and will not get:
    // it is listed with the scan's failures and the phase reports the content as failed.
    if (CScanJobCallbackPtr callback = m_job->GetScanJobCallback())
        callback->SetSCContentFailed(true);
    for (const std::string& path : failed) {
        CKxError missing = CKxError::FromErrno(ENOENT, "Content file [" + path + "] could not be read");
        (void)m_job->ReportScanFailure(path, missing);
    }
    return CKxError::Success();
}

CKxError CScanJobFileSystemPrivate::CheckScanContentError(CKxError&) { return CKxError::Success(); }

void CScanJobFileSystemPrivate::AddStaleMount(const std::string& mountPoint)
{
    std::lock_guard lock(m_staleMountsLock);
    if (std::find(m_staleMounts.begin(), m_staleMounts.end(), mountPoint) == m_staleMounts.end())
        m_staleMounts.push_back(mountPoint);
}

std::vector<std::string> CScanJobFileSystemPrivate::GetStaleMounts() const
{
    std::lock_guard lock(m_staleMountsLock);
    return m_staleMounts;
}
