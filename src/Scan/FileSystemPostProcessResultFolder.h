#pragma once
// CFileSystemPostProcessResultFolder: adds the subclient's own results folder to the job's
// backup, so that a restore (or a rebuilt client) gets back the directory-change record, the
// collect files, maps and state files the next job starts from.
//
// The clean-up chain runs it after the collect files were split: Prepare, Run, Finalize. Run
// appends to the collect file of the volume that holds the results folder one line per entry
// of the folder and one per folder from the results folder up to (not including) "/":
//
//   %SCFILES%<escaped source path>      a file of the results folder
//   %SCFILES%<escaped source path>/     the results folder, a folder above it, or a sub-folder
//
// The lines carry no size (the split ran already: lines are final) and count as items and
// folders of that collect file, so the next phase's item count includes them. Which entries
// are listed: IsListed. A folder above the results folder is not listed again when the walk of
// the content has listed it already (as a content item selected by this job, or as an ancestor
// line of a content root).
//
// When no collect file of this job lies on the results folder's volume (the instance on one
// file system, the content on another), a new collect file is made for the lines with the next
// collect number, registered as an output resource and named in the split map, so the backup
// phase reads it like any other.
//
// Skips (Run logs "Subclient files backup is skipped. Reason: %s" and succeeds): the agent
// setting "sSkipSubclientFilesBackup" starting with 'Y'/'y', laptop clients, the snapshot backup
// and catalog job types (11, 12, 21, 30, 44, 48), and a job with nothing to back up that
// completes in the scan phase (a criteria-based ad hoc job, or a non-full job allowed to end
// empty): no backup phase follows to take the files.
//
// The platform part (CUnixPostProcessResultFolder) resolves the folder and its volume, reads
// the folder, tells which folders above it the walk listed, and makes a new collect file.
//
// Ownership: made by the job's callback (GetPostProcessResultFolderInterface) for one clean-up;
// holds the callback until Finalize. Thread: the job's main thread, after the walk's workers
// stopped and the collect files were split.
#include "Base/KxError.h"
#include "CollectFile/CollectEvidence.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CScannerOptions;
class CScanJobCallback;
class CFlatCollectFile;

class CFileSystemPostProcessResultFolder {
public:
    static constexpr const char* kSkipSetting = "sSkipSubclientFilesBackup";

    // One entry of the results folder.
    struct SEntry {
        std::string name;
        bool folder = false;
    };

    CFileSystemPostProcessResultFolder();
    virtual ~CFileSystemPostProcessResultFolder();

    // Keeps the callback and reads the job's switches from the options' configuration bag (the
    // callback's when the options have none) and the skip setting; "Bag is not initialized by
    // ScannerOptions" without a bag.
    [[nodiscard]] virtual CKxError Prepare(std::shared_ptr<CScannerOptions> options,
                                           std::shared_ptr<CScanJobCallback> callback);
    // Logs the skip and succeeds when ShouldSkipSubclientFilesBackup says so; else RunInternal.
    [[nodiscard]] virtual CKxError Run();
    // Lets go of the callback.
    [[nodiscard]] virtual CKxError Finalize();
    // True, with the reason, when this job lists no results-folder file (see above).
    virtual bool ShouldSkipSubclientFilesBackup(std::string& reason) const;
    // Set by the job before Prepare: a job without anything to back up would complete in the
    // scan phase (a criteria-based ad hoc job, or a non-full job run with "-seb").
    void SetMayCompleteInScan(bool may) { m_mayCompleteInScan = may; }

    // Whether the results-folder entry `name` is listed by a full (`fullBackup`) or another job:
    // never "SCFiles.zvf", the kept directory-change records ("DCTot.zvf", "DCInc.zvf"), failure
    // lists (names holding "Failures"), "GpfsCollect.tmpdir" or a file the background remover is
    // deleting; of the collect files (names holding "Collect", except "StubCollect" and
    // "GpfsCollect" ones) only this job's family ("Tot" for a full, "Inc" otherwise) and the
    // on-demand ones ("OD"); every other entry.
    static bool IsListed(std::string_view name, bool fullBackup);

    // The collect files (and split map) Run appended to, with the lines and bytes it appended
    // (a file Run created holds only those): the collect-file evidence adds them to what the
    // split counted instead of reading the files back.
    const std::vector<CCollectEvidence::SEntry>& AppendedFiles() const { return m_appended; }

protected:
    // Lists the folder's entries and the folders above it into the volume's collect file.
    [[nodiscard]] CKxError RunInternal();
    // Appends the lines of the folder's listed entries (source path `sourceFolder`) to `lines`.
    [[nodiscard]] CKxError addEntries(const std::string& folder, const std::string& sourceFolder,
                                      std::string& lines, std::uint64_t& items, std::uint64_t& folders);

    // ---- platform part ---------------------------------------------------------------------
    // The results folder's real path (no link, no "." or "..") and its volume's unique id, as
    // the output resources carry it.
    [[nodiscard]] virtual CKxError ResolveResultsFolder(const std::string& folder, std::string& realFolder,
                                                        std::string& volumeId) = 0;
    // The folder's entries, without "." and "..".
    [[nodiscard]] virtual CKxError ListFolder(const std::string& folder, std::vector<SEntry>& entries) = 0;
    // Whether the walk put the folder `folder` (local path) in this job's collect files already.
    virtual bool IsListedByWalk(const std::string& folder) = 0;
    // A new, empty collect file numbered `number` for the volume at `volume`.
    [[nodiscard]] virtual CKxError CreateCollectFile(int number, const std::string& volume,
                                                     std::shared_ptr<CFlatCollectFile>& collect) = 0;

    std::shared_ptr<CScanJobCallback> m_callback;
    std::string m_resultsFolder;
    std::uint32_t m_backupType = 0;
    std::uint32_t m_jobType = 0;
    bool m_skipBySetting = false;
    bool m_laptopClient = false;
    bool m_criteriaBased = false;
    bool m_mayCompleteInScan = false;
    // From the scan statistics at Prepare: lines the job lists for the backup phase.
    std::int64_t m_itemCount = 0;

private:
    // The collect file of the output resource on volume `volumeId`, opened for appending; a new
    // resource with its own collect file when there is none.
    [[nodiscard]] CKxError OpenCollectFile(const std::string& realFolder, const std::string& volumeId,
                                           std::shared_ptr<CFlatCollectFile>& collect);
    // Names collect file `number` in the split map (when the split wrote one).
    [[nodiscard]] CKxError AddToSplitMap(int number);

    std::vector<CCollectEvidence::SEntry> m_appended;
};

using CFileSystemPostProcessResultFolderPtr = std::shared_ptr<CFileSystemPostProcessResultFolder>;
