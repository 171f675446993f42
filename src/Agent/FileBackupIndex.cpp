#include "Agent/FileBackupIndex.h"

#include "Agent/BackupIndexFileReader.h"
#include "Agent/BackupIndexFormat.h"
#include "Base/DirChangePathOrder.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"

#include <algorithm>
#include <queue>

namespace {
using BackupIndexFormat::SLine;

// A job file in the merge: its current line, and the outermost deletion it carried whose subtree
// the merge may still be in.
struct SMergeStream {
    CBackupIndexFileReader reader;
    bool hasLine = false;
    bool hasDeletion = false;
    std::string deletion;
};
}  // namespace

CFileBackupIndex::CFileBackupIndex(const std::string& indexFolder, std::uint64_t orbundId, std::uint64_t appNumber)
    : m_folder(SubclientFolder(indexFolder, orbundId, appNumber))
{
}

std::string CFileBackupIndex::SubclientFolder(const std::string& indexFolder, std::uint64_t orbundId,
                                              std::uint64_t appNumber)
{
    return FXPath::Append(indexFolder, std::to_string(orbundId) + "_" + std::to_string(appNumber));
}

CKxError CFileBackupIndex::Jobs(std::vector<SIndexJob>& jobs)
{
    jobs.clear();
    std::vector<std::string> names;
    KX_RETURN_IF_FAILED(FXFile::ListMatchingFiles(m_folder, "*.idx", names), "Cannot list the backup index [%s]",
                        m_folder.c_str());
    for (const std::string& name : names) {
        const std::string path = FXPath::Append(m_folder, name);
        long long jobId = 0;
        if (!BackupIndexFormat::ParseJobFileName(name, jobId))
            return CKxError(KxCode::InvalidData,
                            KxFormat("Backup-index file [%s] is not named after a job id", path.c_str()));
        CBackupIndexFileReader reader;
        SIndexJob job;
        KX_RETURN_IF_ERROR(reader.Open(path, &job));
        if (job.jobId != jobId)
            return CKxError(KxCode::InvalidData, KxFormat("Backup-index file [%s] holds job %lld", path.c_str(),
                                                          job.jobId));
        jobs.push_back(job);
    }
    std::sort(jobs.begin(), jobs.end(), [](const SIndexJob& a, const SIndexJob& b) { return a.jobId < b.jobId; });
    return CKxError::Success();
}

CKxError CFileBackupIndex::Browse(const Sink& sink)
{
    std::vector<SIndexJob> jobs;
    KX_RETURN_IF_ERROR(Jobs(jobs));
    size_t first = 0;
    for (size_t i = 0; i < jobs.size(); ++i)
        if (jobs[i].backupType == 1)
            first = i;

    // Oldest first: a stream's position is its age.
    std::vector<SMergeStream> streams(jobs.size() - first);
    // The streams that have a line, smallest path first and, for one path, oldest first: a
    // path costs a logarithm of the job count, however many incrementals follow the full.
    auto later = [&streams](int a, int b) {
        const int order =
            DirChangePathOrder::Compare(streams[a].reader.Line().item.path, streams[b].reader.Line().item.path);
        return order > 0 || (order == 0 && a > b);
    };
    std::priority_queue<int, std::vector<int>, decltype(later)> pending(later);
    for (size_t i = 0; i < streams.size(); ++i) {
        SIndexJob header;
        KX_RETURN_IF_ERROR(streams[i].reader.Open(
            FXPath::Append(m_folder, BackupIndexFormat::JobFileName(jobs[first + i].jobId)), &header));
        KX_RETURN_IF_ERROR(streams[i].reader.Next(streams[i].hasLine));
        if (streams[i].hasLine)
            pending.push(static_cast<int>(i));
    }

    // Streams whose last deletion may still cover the paths to come: paths come in path order,
    // so a deletion that stops covering one never covers a later one.
    std::vector<int> deleting;
    std::string path;
    SIndexItem newest;
    while (!pending.empty()) {
        path = streams[pending.top()].reader.Line().item.path;
        // Every line of this path, oldest job first: the newest item wins, unless a newer job
        // deleted the path or a folder above it.
        int newestItem = -1;
        while (!pending.empty() && streams[pending.top()].reader.Line().item.path == path) {
            const int i = pending.top();
            pending.pop();
            SMergeStream& stream = streams[i];
            while (stream.hasLine && stream.reader.Line().item.path == path) {
                const SIndexItem& line = stream.reader.Line().item;
                if (line.kind == BackupIndexFormat::kDeletion) {
                    // Within the subtree of an earlier deletion of this job, that one still covers.
                    if (!stream.hasDeletion || !DirChangePathOrder::IsSameOrBelow(stream.deletion, path)) {
                        if (!stream.hasDeletion)
                            deleting.push_back(i);
                        stream.deletion = path;
                        stream.hasDeletion = true;
                    }
                } else if (line.kind != BackupIndexFormat::kFailure) {
                    newest = line;  // a copy: the reader checks the next line against this one
                    newestItem = i;
                }
                KX_RETURN_IF_ERROR(stream.reader.Next(stream.hasLine));
            }
            if (stream.hasLine)
                pending.push(i);
        }
        int newestDeletion = -1;
        std::erase_if(deleting, [&](int i) {
            if (!DirChangePathOrder::IsSameOrBelow(streams[i].deletion, path)) {
                streams[i].hasDeletion = false;
                return true;
            }
            newestDeletion = std::max(newestDeletion, i);
            return false;
        });
        if (newestItem >= 0 && newestItem >= newestDeletion)
            KX_RETURN_IF_FAILED(sink(newest), "Backup-index browse stopped at [%s]", path.c_str());
    }
    return CKxError::Success();
}

CKxError CFileBackupIndex::GetFailedFiles(long long jobId, std::vector<SIndexFailure>& failures)
{
    failures.clear();
    const std::string path = FXPath::Append(m_folder, BackupIndexFormat::JobFileName(jobId));
    if (!FXFile::Exists(path))
        return CKxError(KxCode::NotFound,
                        KxFormat("The backup index knows no job %lld (no file [%s])", jobId, path.c_str()));
    CBackupIndexFileReader reader;
    SIndexJob header;
    KX_RETURN_IF_ERROR(reader.Open(path, &header));
    for (bool got = true;;) {
        KX_RETURN_IF_ERROR(reader.Next(got));
        if (!got)
            return CKxError::Success();
        if (const SLine& line = reader.Line(); line.item.kind == BackupIndexFormat::kFailure)
            failures.push_back(SIndexFailure{line.item.path, line.error});
    }
}
