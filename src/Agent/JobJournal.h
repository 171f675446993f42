#pragma once
// CJobJournal: the job-manager journal of one job, JobManager/<jobId>.jsonl under the focused
// instance. Each record is one JSON object on one line; the job-manager client, the
// job-control client and the event service append to the same file.
//
// Appends open the file with O_APPEND and write the whole line with one write(2), so lines
// from threads, and from other processes, never interleave.
//
// A line that reports an outcome (a phase completed or failed) is appended Synced: the line is
// on disk, and the journal's name in its folder, before Append returns. The job's outputs are
// synced before that line is written, so a job manager that reads the outcome after a crash
// finds what it promises.
//
// Thread: any thread.
#include <cstdint>
#include <string>
#include <vector>

#include "Base/KxError.h"

class CJobJournal {
public:
    // <instance>/JobManager/<jobId>.jsonl ("" without a focus).
    static std::string PathFor(int64_t jobId);
    // <instance>/JobManager/<jobId>.quit ("" without a focus).
    static std::string QuitFlagPathFor(int64_t jobId);
    enum class EDurability { Appended, Synced };
    // Appends `jsonObject` (one serialised object without newline) and a newline.
    [[nodiscard]] static CKxError Append(int64_t jobId, const std::string& jsonObject,
                                         EDurability durability = EDurability::Appended);
    // Appends to an explicit file (tests, tools).
    [[nodiscard]] static CKxError AppendToFile(const std::string& path, const std::string& jsonObject,
                                               EDurability durability = EDurability::Appended);

    // The lines of job `jobId`'s journal (the operator's tools read them back). A missing
    // journal is an errno error naming the file.
    [[nodiscard]] static CKxError Read(int64_t jobId, std::vector<std::string>& lines);
    // The ids of every journal of the instance, ascending (the newest job last).
    static std::vector<int64_t> JobIds();
};
