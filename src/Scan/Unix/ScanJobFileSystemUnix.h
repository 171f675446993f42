#pragma once
// CScanJobFileSystemUnix: the Unix private part of the file-system scan job.
//
// Mount points: the walk follows them unless option "skipMountPath" is given.
// Impersonation: a job of types 3, 5, 8, 11, 12, 17, 30, 32, 42 or 48 on a backup set that is
// not the default one, run by root, scans as the user whose id option "uid" gives (this agent's
// subclients name no user of their own). Only the walk threads read content as that user,
// through their own file-system ids (CFileSystemIdentity); the process keeps its credentials,
// so every file the job writes is root's, in folders only root can write, and the user is
// handed nothing. "ImpersonateUID" records the user for the backup phase.
// Scan view: "ScanView.txt" lists the content, exceptions, new content and filters of the scan,
// one "Kind||F||entry" line each (the next job compares its content with it).
// Stale mounts: listed in the clean-up's log.
// True-up: the job's CUnixTrueUpJobHandle, made in Configure_TrueUpJob (the browse before the
// walk, the comparison in the clean-up, the state marked when the job completes in the scan).
//
// Ownership and thread as CScanJobFileSystemPrivate.
#include "Scan/ScanJobFileSystemPrivate.h"
#include "Scan/TrueUpJobHandle.h"

#include <sys/types.h>
#include <vector>

class CScanJobFileSystemUnix : public CScanJobFileSystemPrivate {
public:
    explicit CScanJobFileSystemUnix(CScanJobFileSystem* job);
    ~CScanJobFileSystemUnix() override;

    // The job's name followed by "/FileSystemUnix".
    std::string AsString() const override;
    [[nodiscard]] CKxError FollowMountPoints(const CCommandLineArgumentsPtr& args) override;
    [[nodiscard]] CKxError ImpersonateUser() override;
    [[nodiscard]] CKxError ImpersonateForUserCentricClient(const std::string& user) override;
    [[nodiscard]] CKxError RevertImpersonation() override;
    std::shared_ptr<const CFileSystemIdentity> GetWalkIdentity() const override { return m_walkIdentity; }
    [[nodiscard]] CKxError Configure_ExtentLevelBackup() override;
    [[nodiscard]] CKxError Configure_MigrationAssistant() override;
    [[nodiscard]] CKxError Run() override;
    [[nodiscard]] CKxError Configure_TrueUpJob() override;
    [[nodiscard]] CKxError Prepare_TrueUpBrowseIndex() override;
    [[nodiscard]] CKxError Cleanup_ProcessTrueUp() override;
    [[nodiscard]] CKxError Cleanup_MarkTrueUpComplete() override;
    [[nodiscard]] CKxError Cleanup_PostCleanup() override;
    [[nodiscard]] CKxError PrintStaleMountList() override;
    [[nodiscard]] CKxError ProcessScanContent_WriteInformation() override;

    [[nodiscard]] virtual CKxError Configure_ACLOnlyBackup();
    [[nodiscard]] virtual CKxError WritePreScanFile();
    [[nodiscard]] virtual CKxError WriteScanViewFile();

    // Whether and as whom the job scans: `impersonate` false means no switch (not an error).
    [[nodiscard]] CKxError GetImpersonationOption(uid_t& uid, bool& impersonate);

    // Run by root, whether or not the job scans as a user: the job results, subclient results,
    // log, temporary and job-manager folders, and the files directly in them, become root's
    // alone again where an older version of the agent opened them to the impersonated user.
    void TakeBackJobFolders();

    // Job types whose scans may run as the configured user.
    static bool IsImpersonatedJobType(long long jobType);

private:
    std::shared_ptr<const CFileSystemIdentity> m_walkIdentity;
    bool m_userCentric = false;
    CTrueUpJobHandlePtr m_trueUp;
};
