#include "Agent/BackupIndexWriter.h"

#include "Agent/BackupIndexFileReader.h"
#include "Base/DirChangePathOrder.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/OutputSync.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <unistd.h>

namespace {
using BackupIndexFormat::SLine;

constexpr size_t kChunkBytes = size_t{1} << 20;

char KindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return SIndexItem::kFile;
    if (S_ISDIR(mode))
        return SIndexItem::kFolder;
    if (S_ISLNK(mode))
        return SIndexItem::kSymbolicLink;
    return SIndexItem::kOther;
}

// Formats lines into a buffer written to a file a chunk at a time; the first failure sticks.
class CLineSink {
public:
    CLineSink(int fd, const std::string& path) : m_fd(fd), m_path(path) {}

    void Append(const SLine& line)
    {
        BackupIndexFormat::AppendLine(line, m_chunk);
        if (m_chunk.size() >= kChunkBytes)
            Flush();
    }
    std::string& Text() { return m_chunk; }
    CKxError Finish()
    {
        Flush();
        return std::move(m_error);
    }

private:
    void Flush()
    {
        std::string_view data = m_chunk;
        while (!data.empty() && m_error.IsSuccess()) {
            const ssize_t written = ::write(m_fd, data.data(), data.size());
            if (written >= 0)
                data.remove_prefix(static_cast<size_t>(written));
            else if (errno != EINTR)
                m_error = CKxError::FromErrno(errno, "write failed for [" + m_path + "]");
        }
        m_chunk.clear();
    }

    int m_fd;
    const std::string& m_path;
    std::string m_chunk;
    CKxError m_error;
};

// Closes `fd`, keeping the first failure.
CKxError Close(int fd, const std::string& path, CKxError error)
{
    if (::close(fd) != 0 && error.IsSuccess())
        error = CKxError::FromErrno(errno, "close failed for [" + path + "]");
    return error;
}
}  // namespace

CBackupIndexWriter::CBackupIndexWriter(std::string folder, long long jobId, unsigned int backupType,
                                       size_t linesPerRun)
    : m_folder(std::move(folder)),
      m_path(FXPath::Append(m_folder, BackupIndexFormat::JobFileName(jobId))),
      m_linesPerRun(std::max<size_t>(linesPerRun, 1))
{
    m_job.jobId = jobId;
    m_job.backupType = backupType;
}

CBackupIndexWriter::~CBackupIndexWriter() { RemoveRuns(); }

SLine& CBackupIndexWriter::Add(std::string_view path, char kind)
{
    if (m_lines.size() >= m_linesPerRun && m_spillError.IsSuccess())
        m_spillError = Spill();
    SLine& line = m_lines.emplace_back();
    line.item.path = DirChangePathOrder::TrimTrailingSlashes(path);
    line.item.kind = kind;
    return line;
}

void CBackupIndexWriter::AddItem(std::string_view path, const struct stat& status)
{
    SIndexItem& item = Add(path, KindOf(status.st_mode)).item;
    item.mtime = status.st_mtim.tv_sec;
    item.ctime = status.st_ctim.tv_sec;
    item.size = item.kind == SIndexItem::kFolder ? 0 : static_cast<std::uint64_t>(status.st_size);
}

void CBackupIndexWriter::AddDeletion(std::string_view path) { Add(path, BackupIndexFormat::kDeletion); }

void CBackupIndexWriter::AddFailure(std::string_view path, int error)
{
    Add(path, BackupIndexFormat::kFailure).error = error;
}

void CBackupIndexWriter::SortHeld()
{
    // Stable: of a path listed twice, the first reading is kept.
    std::stable_sort(m_lines.begin(), m_lines.end(),
                     [](const SLine& a, const SLine& b) { return BackupIndexFormat::Compare(a, b) < 0; });
    m_lines.erase(std::unique(m_lines.begin(), m_lines.end(),
                              [](const SLine& a, const SLine& b) { return BackupIndexFormat::Compare(a, b) == 0; }),
                  m_lines.end());
}

CKxError CBackupIndexWriter::Spill()
{
    SortHeld();
    KX_RETURN_IF_FAILED(FXFile::CreateDirectories(m_folder, 0700), "Cannot make the backup-index folder [%s]",
                        m_folder.c_str());
    std::string run;
    int fd = -1;
    KX_RETURN_IF_FAILED(FXFile::CreateTemporaryBeside(m_path + ".run", run, fd),
                        "Cannot spill the lines of backup-index file [%s]", m_path.c_str());
    m_runs.push_back(run);
    CLineSink sink(fd, run);
    for (const SLine& line : m_lines)
        sink.Append(line);
    m_lines.clear();
    m_lines.shrink_to_fit();
    KX_RETURN_IF_FAILED(Close(fd, run, sink.Finish()), "Cannot spill the lines of backup-index file [%s]",
                        m_path.c_str());
    return CKxError::Success();
}

CKxError CBackupIndexWriter::WriteMerged(int fd, const std::string& temp)
{
    CLineSink sink(fd, temp);
    BackupIndexFormat::AppendHeader(m_job, sink.Text());
    std::vector<std::unique_ptr<CBackupIndexFileReader>> runs;
    std::vector<char> hasLine;
    for (const std::string& run : m_runs) {
        runs.push_back(std::make_unique<CBackupIndexFileReader>());
        bool got = false;
        KX_RETURN_IF_ERROR(runs.back()->Open(run, nullptr));
        KX_RETURN_IF_ERROR(runs.back()->Next(got));
        hasLine.push_back(got);
    }
    // The runs and the lines held are each sorted: a merge. Of equal lines the earliest added
    // is kept, as within one run: older runs first, the lines held last.
    SLine last;
    size_t held = 0;
    while (true) {
        const SLine* next = nullptr;
        size_t from = 0;
        for (size_t i = 0; i < runs.size(); ++i)
            if (hasLine[i] && (!next || BackupIndexFormat::Compare(runs[i]->Line(), *next) < 0)) {
                next = &runs[i]->Line();
                from = i;
            }
        if (held < m_lines.size() && (!next || BackupIndexFormat::Compare(m_lines[held], *next) < 0)) {
            next = &m_lines[held];
            from = runs.size();  // the lines held
        }
        if (!next)
            break;
        if (m_written == 0 || BackupIndexFormat::Compare(last, *next) != 0) {
            sink.Append(*next);
            last = *next;
            ++m_written;
        }
        if (from == runs.size()) {
            ++held;
        } else {
            bool got = false;
            KX_RETURN_IF_ERROR(runs[from]->Next(got));
            hasLine[from] = got;
        }
    }
    return sink.Finish();
}

void CBackupIndexWriter::RemoveRuns()
{
    for (const std::string& run : m_runs)
        (void)FXFile::Remove(run);
    m_runs.clear();
}

CKxError CBackupIndexWriter::Commit(std::time_t now)
{
    KX_RETURN_IF_ERROR(m_spillError);
    SortHeld();
    KX_RETURN_IF_FAILED(FXFile::CreateDirectories(m_folder, 0700), "Cannot make the backup-index folder [%s]",
                        m_folder.c_str());
    std::string temp;
    int fd = -1;
    KX_RETURN_IF_FAILED(FXFile::CreateTemporaryBeside(m_path, temp, fd), "Cannot write backup-index file [%s]",
                        m_path.c_str());
    m_job.written = static_cast<std::int64_t>(now);
    m_written = 0;
    CKxError written = WriteMerged(fd, temp);
    RemoveRuns();
    if (written.IsSuccess() && ::fsync(fd) != 0)
        written = CKxError::FromErrno(errno, "fsync failed for [" + temp + "]");
    written = Close(fd, temp, std::move(written));
    if (written.IsSuccess())
        written = FXFile::Rename(temp, m_path);
    if (written.IsError()) {
        (void)FXFile::Remove(temp);
        return std::move(written.Push(KxFormat("Cannot write backup-index file [%s]", m_path.c_str())));
    }
    KX_RETURN_IF_FAILED(COutputSync::SyncFolder(m_folder), "Backup-index file [%s] written, its folder not synced",
                        m_path.c_str());
    return CKxError::Success();
}
