#pragma once
// COwedItemFeeder: hands the items an earlier job still owes to a backup (a failed-file list,
// a commit file) to this job's output handlers after the walk, exactly as if the walk had met
// them, so that they land in this job's collect files and directory-change record.
//
// Per item (Feed):
//   - the item is looked at with lstat under its path. Gone (ENOENT, ENOTDIR): a deletion line
//     of a non-full job ("??d"/"??D", `deletionLines`) goes to the job's deleted-items collect file
//     unless the previous record knows the item (then the comparison of the records reports
//     it, once); anything else is logged "File '%s' not found." and skipped. Another lstat
//     error is a scan failure of the item (scan_Failures.zvf) and the item is skipped;
//   - an item this job's record already lists as selected is skipped
//     (IncrementalDirChange::CheckIfAddedToCollect, or the database record's
//     CContentContainerBuffer::CheckIfItemIsAddedToCollect: what reached the record, so the owner
//     flushes the buffers between two runs), and, with `oncePerRun`, one this feeder already
//     fed (a list that may name an item twice; it keeps one path per fed item);
//   - otherwise the item is marked new in this job's image, so that the backup-type evaluator
//     selects it although nothing about it changed (an item whose access-control data only is
//     owed gets "ItemACLOnlyCommitOrFailed" instead), and goes to the output handler of the
//     volume that holds it (that of "/" when the volume has none). The handler's answer is
//     read as the walk reads it: a failure of the item is a scan failure, a failure to write
//     the job's own files is returned and ends the run.
// Nothing here runs per walked item: the cost is the owed items' own.
//
// Ownership: one per list run; it keeps the handlers it got, by volume, for the run.
// Thread: the job's main thread, after the walk (the clean-up chain).
#include "Base/KxError.h"
#include "CollectFile/OwedItemLine.h"
#include "Engine/ConsumerOutputHandler.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>

class CScanJobCallback;
class IncrementalDirChange;
class CContentContainerBuffer;

class COwedItemFeeder {
public:
    // `deletionLines`: deletions may be written (a non-full job).
    COwedItemFeeder(CScanJobCallback& callback, bool deletionLines, bool oncePerRun);
    ~COwedItemFeeder();

    // `line` is not a Skip line.
    [[nodiscard]] CKxError Feed(const COwedItemLine& line);
    // Feeds every line of the list at `path`, read with `parse`: a line that does not parse is
    // logged with `refused` (its raw text and the error) and skipped, a Skip line is skipped,
    // and a line `take` refuses is not fed. The first failure to feed ends the run; `processed`
    // counts the lines fed. The walk's handlers are told not to build the consumer that skips
    // file-system types first: an owed item is taken on whatever it lives.
    using Parse = CKxError (*)(std::string_view raw, COwedItemLine& line);
    [[nodiscard]] CKxError FeedList(const std::string& path, Parse parse, const char* refused,
                                    const std::function<bool(const std::string& raw, const COwedItemLine&)>& take,
                                    std::uint64_t& processed);

    // Writes the deletion line of `line`'s item ("??D" folder, "??d" otherwise) to the job's
    // deleted-items collect file, unless the previous record knows the item: the comparison of
    // the records then reports it, and each deleted item gets exactly one line. `written`: a
    // line was written.
    [[nodiscard]] CKxError WriteDeletion(const COwedItemLine& line, bool* written = nullptr);

    std::uint64_t Fed() const { return m_fed; }
    std::uint64_t AlreadyListed() const { return m_alreadyListed; }

private:
    [[nodiscard]] CKxError HandlerFor(const std::string& path, CConsumerOutputHandlerPtr& handler);
    bool IsListedByThisJob(const CItemPtr& item);

    CScanJobCallback& m_callback;
    bool m_deletionLines;
    bool m_oncePerRun;
    std::map<std::string, CConsumerOutputHandlerPtr> m_handlers;  // by volume
    std::shared_ptr<IncrementalDirChange> m_record;         // the text record's stage, or
    std::shared_ptr<CContentContainerBuffer> m_database;  // the database record's
    std::unordered_set<std::string> m_fedPaths;
    std::uint64_t m_fed = 0;
    std::uint64_t m_alreadyListed = 0;
};
