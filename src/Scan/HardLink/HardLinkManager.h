#pragma once
// HardLinkManager: the hard-linked files of one job, from the walk to the collect files.
//
// During the walk the hard-link interfaces of the chains (CHardLinkInterface) insert every
// hard-linked file they take: one line in the hard-link collect file of its collect number
// ("H" + collect base name + number + ".zvf", HCollectFile) and one record in the hard-link
// table ("hardLinks.dat"/".idx" in the results folder, HardLinksTable, an index for the backup
// phase; the collect line is the truth). After the walk and the ordinary split:
//
//   SplitHCollectFile(k)  reads every hard-link collect file into groups by (device, inode) and
//                         deals the groups into temporary files "H<base><T>.tmp", T = 1, 2, ...:
//                         with k > 1, each file takes about (data of all groups) / k, a group's
//                         data counted once whatever its number of names (a group goes to the
//                         next file when it would take this one further past that share than it
//                         leaves it short); with k <= 1 one temporary file per collect number. A
//                         group is never divided.
//                         With the put-all flag every name of a group is written, else only its
//                         first. "HCollect_split_config" gets "N T1 T2 ..." per collect number N.
//                         The hard-link collect files are then removed: the temporary files hold
//                         all they held.
//   MergeSplitFiles(...)  turns each temporary file into an ordinary collect file numbered above
//                         the highest number in use, with an output resource of the volume of
//                         the collect file it came from (its counts: its names and its data, a
//                         group's data once), and rewrites "split_config" (kept first as
//                         "split_config.orig") so that each line lists the collect files of one
//                         group: "N,<its hard-link files>,<its pieces>". "Merged_split_config"
//                         keeps the groups with an "H" before the hard-link members.
//
// Nothing is lost silently: an insertion that fails is returned to the interface, which gives the
// item to the ordinary collect file instead; a split or merge that fails fails the phase (the
// names it holds are in no ordinary collect file).
//
// State is the job's: one manager per job, made by the job's callback; files an earlier job left
// in the results folder are removed before the first insertion.
//
// Thread: Insert may be called from every walker thread (one lock); the split and merge run on
// the clean-up thread after the walk.
#include "Base/KxError.h"
#include "CollectFile/CollectEvidence.h"
#include "CollectFile/HCollectFile.h"
#include "Scan/OutputResources.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class CFileNameFactory;
class HardLinksTable;

class HardLinkManager {
public:
    // Names that the agent itself makes for files without a name of their own; never recorded.
    static constexpr const char* kPhonyFolder = "/__ZVHardLink@-@-Files__/";
    static constexpr const char* kSplitConfigName = "HCollect_split_config";
    static constexpr const char* kMergedSplitConfigName = "Merged_split_config";
    static constexpr const char* kTableName = "hardLinks";

    // `names` gives the results folder, the collect base name and the collect-file paths.
    HardLinkManager(std::shared_ptr<CFileNameFactory> names, bool putAllFilesIntoCollect);
    ~HardLinkManager();

    // Records one name of a hard-linked file taken by the job for collect file `collectNumber`.
    [[nodiscard]] CKxError InsertEntryInHCollectFile(int collectNumber, const HLinkGroupElement& element);
    [[nodiscard]] CKxError SplitHCollectFile(int splitCount);
    // `lastCollectNumber`: in, the highest collect number in use; out, the highest after the
    // merge. New output resources are appended to `outputResources`; `written` receives the
    // line and byte counts of the collect files made.
    [[nodiscard]] CKxError MergeSplitFiles(int& lastCollectNumber, std::vector<COutputResourcesPtr>& outputResources,
                                           std::vector<CCollectEvidence::SEntry>& written);

    bool PutAllFilesIntoCollect() const { return m_putAll; }
    std::uint64_t InsertedCount() const { return m_inserted.load(std::memory_order_relaxed); }
    // Data of the groups placed by the split, each group once.
    std::uint64_t GetTotalSize() const { return m_placedSize; }
    // Cleared for the rest of the job once a chain turns out to have no place to send the record
    // of a hard-linked file (then every file goes the ordinary way).
    bool ReportOnce() const { return m_reportOnce.load(std::memory_order_relaxed); }
    void ClearReportOnce() { m_reportOnce.store(false, std::memory_order_relaxed); }

    std::string HCollectPath(int number, const char* extension) const;

private:
    struct STemporary {
        std::uint64_t lines = 0;  // names written (the header not included)
        std::uint64_t data = 0;
        std::uint64_t bytes = 0;
    };

    CKxError PrepareLocked();
    CKxError CloseAllLocked();
    std::string InFolder(const std::string& name) const;

    std::shared_ptr<CFileNameFactory> m_names;
    std::string m_folder;
    std::string m_baseName;
    const bool m_putAll;

    std::mutex m_lock;  // guards everything below it during the walk
    bool m_prepared = false;
    std::map<int, std::unique_ptr<HCollectFile>> m_collectFiles;
    std::unique_ptr<HardLinksTable> m_table;
    bool m_tableFailed = false;
    std::uint64_t m_dataSize = 0;
    std::atomic<std::uint64_t> m_inserted{0};
    std::atomic<bool> m_reportOnce{true};

    // Split results, read by the merge.
    std::map<int, std::vector<int>> m_temporariesOf;  // collect number -> temporary numbers
    std::map<int, STemporary> m_temporaries;
    std::uint64_t m_placedSize = 0;
};
