#pragma once
// CScanJobSnapCatalog: the catalog of a mounted storage snapshot (job type 12), the base of the
// deferred and direct-copy variants. It is the file-system job with these differences:
//
// - the command line must carry the snapshot's time ("-snapRefTime <seconds>"); it becomes the
//   job's "ScanStartTime", full jobs included, so that the backup phase's "-r" and with it the
//   next job's reference time is the snapshot's: a change made on the live volume between the
//   snapshot and this scan is taken by the next job, never lost;
// - the snapshot manager (ISnapBackupManager, the agent's Snapshots/<jobId>.json) says where
//   each source path's snapshot is mounted: the walk opens the snapshot and everything the scan
//   writes names the source paths (the callback's content mapper, both ways). Without a
//   snapshot file the content is walked where it is;
// - symbolic links are never followed and hard links never handled ("SC:FollowSymLink" and
//   "HL:enable" are false before the file-system job's preparation reads them);
// - a phase that did not fail leaves the snapshot information file ("reusecollect.zvf") for the
//   backup phase: streams, collect files, items and the archive id of each collect file; a
//   phase that failed leaves none (it is removed while configuring) and has its snapshots
//   unmounted.
//
// Ownership and threads: as CScanJobFileSystem; the job owns its snapshot manager.
#include "Agent/ISnapBackupManager.h"
#include "Scan/ScanJobFileSystem.h"

#include <cstdint>
#include <string>

class CScanJobSnapCatalog : public CScanJobFileSystem {
public:
    // "ScanJob/FileSystem/SnapCatalog".
    std::string AsString() const override { return CScanJobFileSystem::AsString() + "/SnapCatalog"; }
    // The file-system job's options, then "depotnode" (required), "ltr", "snapRefTime"
    // (required), "dcfreezed", "pcr", "amsd".
    [[nodiscard]] CKxError ProcessCommandLine(const CCommandLineArgumentsPtr& args) override;
    // Loads the snapshot manager and maps the content onto the snapshots, removes an earlier
    // snapshot information file, then the file-system job's configuration and the follow-mount
    // option.
    [[nodiscard]] CKxError Configure() override;
    [[nodiscard]] CKxError Prepare() override;
    // Always succeeds; a failure sets the fail-phase flag (see the class comment).
    [[nodiscard]] CKxError Cleanup() override;

    // Writes the snapshot information file, synced.
    [[nodiscard]] virtual CKxError SaveSnapInformation();
    // Records in the bag whether the directory-change state was frozen with the snapshot.
    [[nodiscard]] virtual CKxError GetDCFreezeForSnapJob();
    // The folders above each walk root are written into the collect files by their ancestor
    // writer during the walk; nothing is left to add here.
    [[nodiscard]] virtual CKxError AddAncestorsToArchiveCollectFile(bool afterScan = true);

    // Tests replace the agent's snapshot manager.
    void SetSnapBackupManager(ISnapBackupManagerPtr manager) { m_snapManager = std::move(manager); }
    std::uint32_t GetSnapReferenceTime() const { return m_snapRefTime; }
    bool IsDCFreezed() const { return m_dcFreezed; }
    const std::string& GetDepotnodeName() const { return m_storageServer; }

private:
    [[nodiscard]] CKxError LoadSnapBackupManager();

    std::string m_storageServer;
    std::string m_ltr;
    std::uint32_t m_snapRefTime = 0;
    std::int64_t m_jobIdCopy = 0;
    bool m_dcFreezed = true;
    bool m_refTimeOptional = false;
    bool m_autoMount = false;
    ISnapBackupManagerPtr m_snapManager;
};
