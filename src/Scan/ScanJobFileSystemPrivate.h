#pragma once
// CScanJobFileSystemPrivate: the operating-system dependent steps of the file-system scan job.
// CScanJobFileSystem keeps its fixed order of configuration, preparation, walk and clean-up
// steps and delegates these steps to the private object it makes in InitializePrivate (on this
// platform CScanJobFileSystemUnix). Every step of this base succeeds without doing anything,
// except Run, which runs the job's scanner loop (Run1).
//
// The object also keeps the mount points found stale during the job, for the clean-up's list.
//
// Ownership: the job owns it through a shared pointer; it holds a plain pointer back to the
// job, which outlives it. Thread: every step runs on the job's main thread; AddStaleMount may be
// called from any thread.
#include "Agent/CommandLineArguments.h"
#include "Base/FileSystemIdentity.h"
#include "Base/KxError.h"
#include "Engine/ContentMapperAPI.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CScanJobFileSystem;

class CScanJobFileSystemPrivate {
public:
    explicit CScanJobFileSystemPrivate(CScanJobFileSystem* job);
    virtual ~CScanJobFileSystemPrivate();
    CScanJobFileSystemPrivate(const CScanJobFileSystemPrivate&) = delete;
    CScanJobFileSystemPrivate& operator=(const CScanJobFileSystemPrivate&) = delete;

    // The job's name.
    virtual std::string AsString() const;
    // Decides whether the walk follows mount points (the job's follow-mount flag).
    [[nodiscard]] virtual CKxError FollowMountPoints(const CCommandLineArgumentsPtr& args);
    [[nodiscard]] virtual CKxError ImpersonateUser();
    [[nodiscard]] virtual CKxError ImpersonateForUserCentricClient(const std::string& user);
    // Never fails the clean-up: a failure is logged and the result is success.
    [[nodiscard]] virtual CKxError RevertImpersonation();
    // The user the walk threads read content as (set by ImpersonateUser); null: the process's own.
    virtual std::shared_ptr<const CFileSystemIdentity> GetWalkIdentity() const { return nullptr; }
    [[nodiscard]] virtual CKxError Configure_ExtentLevelBackup();
    [[nodiscard]] virtual CKxError Configure_MigrationAssistant();
    [[nodiscard]] virtual CKxError Configure_PostConfig();
    [[nodiscard]] virtual CKxError Configure_TrueUpJob();
    [[nodiscard]] virtual CKxError Prepare_CommitJobContainerItemsFromDB(const std::string& folder, long long jobId);
    [[nodiscard]] virtual CKxError Prepare_NativeSnap();
    [[nodiscard]] virtual CKxError Prepare_FileShareAutoMount();
    [[nodiscard]] virtual CKxError Mount_FileShareAutoMount(const ContentMapperAPIPtr& mapper);
    [[nodiscard]] virtual CKxError Prepare_TrueUpBrowseIndex();
    [[nodiscard]] virtual CKxError Prepare_DistributedOVA();
    // The walk: the job's Run1.
    [[nodiscard]] virtual CKxError Run();
    [[nodiscard]] virtual CKxError Cleanup_SaveBackupStatusFile();
    [[nodiscard]] virtual CKxError Cleanup_ProcessTrueUp();
    [[nodiscard]] virtual CKxError Cleanup_PostProcessCollectFiles();
    [[nodiscard]] virtual CKxError Cleanup_RenameDCAndOtherImportantFiles();
    [[nodiscard]] virtual CKxError Cleanup_IncrementalAfterSynthFull();
    [[nodiscard]] virtual CKxError Cleanup_NativeSnap();
    [[nodiscard]] virtual CKxError Cleanup_FileShareAutoMount();
    [[nodiscard]] virtual CKxError Cleanup_PostCleanup();
    [[nodiscard]] virtual CKxError Cleanup_MarkTrueUpComplete();
    [[nodiscard]] virtual CKxError ProcessIPhoto();
    [[nodiscard]] virtual CKxError PrintStaleMountList();
    // The files that describe the content of this scan for the operator and the next job.
    [[nodiscard]] virtual CKxError ProcessScanContent_WriteInformation();
    // Records content files named by the content that could not be read.
    [[nodiscard]] virtual CKxError ProcessSCContentFailedFile();
    // Looks at an error of the content load; may replace it (with success, to go on).
    [[nodiscard]] virtual CKxError CheckScanContentError(CKxError& error);

    CScanJobFileSystem* GetScanJobFileSystem() const { return m_job; }

    // A mount point whose file system answered "stale" during the job.
    void AddStaleMount(const std::string& mountPoint);
    std::vector<std::string> GetStaleMounts() const;

private:
    CScanJobFileSystem* m_job;
    mutable std::mutex m_staleMountsLock;  // guards m_staleMounts
    std::vector<std::string> m_staleMounts;
};

using CScanJobFileSystemPrivatePtr = std::shared_ptr<CScanJobFileSystemPrivate>;
