#pragma once
// CScanJobFileSystemUnix: the Unix private part of the file-system scan job.
//
// Mount points: the walk follows them unless option "skipMountPath" is given.
// Impersonation: a job of types 3, 5, 8, 11, 12, 17, 30, 32, 42 or 48 on a backup set that is
// not the default one, run by root, scans as the user whose id option "uid" gives (this agent's
// subclients name no user of their own). Before the switch the user gets what it needs to write
// the job's files (execute on the folders above them, read-write-execute on the results, log,
// temporary and job-manager folders and read-write on the files in them). The switch changes
// the effective group, the supplementary groups and then the effective user of the whole
// process, keeping the real ids so that RevertImpersonation (in clean-up, after the walk's
// threads have ended) can switch back. "ImpersonateUID" records the user for the backup phase.
// Scan view: "ScanView.txt" lists the content, exceptions, new content and filters of the scan,
// one "Kind||F||entry" line each (the next job compares its content with it).
// Stale mounts: listed in the clean-up's log.
//
// Ownership and thread as CScanJobFileSystemPrivate. The impersonation changes the ids of every
// thread of the process.
#include "Scan/ScanJobFileSystemPrivate.h"

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
    [[nodiscard]] CKxError Configure_ExtentLevelBackup() override;
    [[nodiscard]] CKxError Configure_MigrationAssistant() override;
    [[nodiscard]] CKxError Run() override;
    [[nodiscard]] CKxError Cleanup_PostCleanup() override;
    [[nodiscard]] CKxError PrintStaleMountList() override;
    [[nodiscard]] CKxError ProcessScanContent_WriteInformation() override;

    [[nodiscard]] virtual CKxError Configure_ACLOnlyBackup();
    [[nodiscard]] virtual CKxError WritePreScanFile();
    [[nodiscard]] virtual CKxError WriteScanViewFile();

    // Whether and as whom the job scans: `impersonate` false means no switch (not an error).
    [[nodiscard]] CKxError GetImpersonationOption(uid_t& uid, bool& impersonate);
    // Gives the user `uid` (group `gid`) access to the job's folders and files.
    void SetPermissionForImpersonatedUser(uid_t uid, gid_t gid);
    bool IsImpersonating() const { return m_impersonating; }

    // Job types whose scans may run as the configured user.
    static bool IsImpersonatedJobType(long long jobType);

private:
    bool m_impersonating = false;
    bool m_userCentric = false;
    uid_t m_startUid = 0;
    gid_t m_startGid = 0;
    std::vector<gid_t> m_startGroups;
    uid_t m_impersonatedUid = 0;
    gid_t m_impersonatedGid = 0;
    mode_t m_savedMask = 022;
};
