#include "Tools/fsbackup/BackupPhase.h"

#include "Base/FileNameEscaping.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/LogWriter.h"
#include "Base/OutputSync.h"
#include "CollectFile/BufferedFile.h"
#include "CollectFile/CollectEvidence.h"
#include "CollectFile/CollectFileReader.h"
#include "CollectFile/ExtentLine.h"
#include "CollectFile/FlatCollectFile.h"
#include "CollectFile/HCollectFile.h"
#include "CollectFile/OwedItemLine.h"
#include "Scan/Dirchange/FileNameFactorySQLiteDirchange.h"
#include "Scan/ProcessFailedFiles.h"
#include "Scan/Unix/UnixFileNameFactory.h"

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
bool ParseNumber(std::string_view text, int& number)
{
    if (text.empty())
        return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    return ec == std::errc() && end == text.data() + text.size() && number >= 0;
}

std::vector<std::string_view> Fields(std::string_view line, char separator)
{
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (start <= line.size()) {
        size_t end = line.find(separator, start);
        if (end == std::string_view::npos)
            end = line.size();
        if (end > start)
            fields.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return fields;
}

// Copies `from` to `to` (created or truncated) with bounded memory whatever the record's size,
// and syncs the copy; a partial copy is removed.
CKxError CopyFile(const std::string& from, const std::string& to)
{
    CBufferedFile out;
    KX_RETURN_IF_FAILED(out.Open(to), "Failed to copy [%s] to [%s]", from.c_str(), to.c_str());
    CKxError copied = out.AppendFile(from);
    CKxError closed = out.Close();
    CKxError synced = copied.IsSuccess() && closed.IsSuccess() ? COutputSync::SyncFile(to) : CKxError::Success();
    if (copied.IsError() || closed.IsError() || synced.IsError()) {
        (void)FXFile::Remove(to);
        CKxError failure = copied.IsError()   ? std::move(copied)
                           : closed.IsError() ? std::move(closed)
                                              : std::move(synced);
        return std::move(failure.Push(KxFormat("Failed to copy [%s] to [%s]", from.c_str(), to.c_str())));
    }
    return CKxError::Success();
}
}  // namespace

CBackupPhase::CBackupPhase(std::string resultsFolder, unsigned int backupType)
    : m_resultsFolder(std::move(resultsFolder)), m_backupType(backupType)
{
}

void CBackupPhase::SetOwedLists(std::string failPattern, std::optional<std::uint64_t> stopAfter, std::string commitFile)
{
    m_failedList =
        std::make_unique<COwedListWriter>(CUnixFileNameFactory(m_backupType, m_resultsFolder).FailedItemsCollect(), true);
    m_failPattern = std::move(failPattern);
    m_stopAfter = stopAfter;
    if (stopAfter)
        m_commitFile = std::make_unique<COwedListWriter>(std::move(commitFile), false);
}

CKxError CBackupPhase::CommitOwedLists()
{
    KX_RETURN_IF_ERROR(m_failedListError);
    if (m_failedList)
        KX_RETURN_IF_ERROR(m_failedList->Commit());
    if (m_commitFile && m_summary.interrupted)
        KX_RETURN_IF_ERROR(m_commitFile->Commit());
    return CKxError::Success();
}

CKxError CBackupPhase::CommitIndex() { return m_index ? m_index->Commit() : CKxError::Success(); }

CKxError CBackupPhase::ReleaseFedBackList()
{
    const std::string fedBack =
        CUnixFileNameFactory(m_backupType, m_resultsFolder).FailedItemsCollect() + CProcessFailedFiles::kInProgressSuffix;
    if (!FXFile::Exists(fedBack))
        return CKxError::Success();
    KX_RETURN_IF_ERROR(FXFile::Remove(fedBack));
    return COutputSync::SyncFolder(m_resultsFolder);
}

CKxError CBackupPhase::Owe(const std::string& rawLine, bool isItemLine)
{
    ++m_summary.owedLines;
    if (!isItemLine)
        return m_commitFile->Append(rawLine);
    // '|' is escaped inside a path: a last '|' is the size, which the commit file does not keep.
    const size_t bar = rawLine.rfind('|');
    return m_commitFile->Append(std::string_view(rawLine).substr(0, bar));
}

CKxError CBackupPhase::ReadSplitMap(std::set<int>& numbers)
{
    CUnixFileNameFactory names(m_backupType, m_resultsFolder);
    const std::string path = names.SplitCollect(0, 0);
    if (!FXFile::Exists(path))
        return CKxError::Success();
    std::string content;
    KX_RETURN_IF_FAILED(FXFile::ReadWholeFile(path, content), "Failed to read the split map");
    // Each number is checked as it is named: a range reaching past the files that exist stops
    // at the first missing one instead of naming billions.
    const auto add = [&](int number) {
        if (!numbers.insert(number).second)
            return CKxError::Success();
        const std::string collect = names.WorkUnitCollect(number);
        if (!FXFile::Exists(collect))
            return CKxError(KxCode::NotFound, KxFormat("Collect file [%s] named by the split map is missing",
                                                       collect.c_str()));
        return CKxError::Success();
    };
    size_t lineNumber = 0;
    for (std::string_view line : Fields(content, '\n')) {
        ++lineNumber;
        ++m_summary.splitMapLines;
        const bool list = line.find(',') != std::string_view::npos;
        std::vector<std::string_view> fields = Fields(line, list ? ',' : ' ');
        if (list) {
            // "a,b,c": a group of collect numbers read by one stream.
            for (std::string_view& field : fields)
                while (!field.empty() && field.back() == ' ')
                    field.remove_suffix(1);
        }
        std::vector<int> values;
        for (std::string_view field : fields) {
            int value = 0;
            if (!ParseNumber(field, value))
                return CKxError(KxCode::InvalidData, KxFormat("Line %zu of split map [%s] is malformed: [%.*s]",
                                                              lineNumber, path.c_str(), static_cast<int>(line.size()),
                                                              line.data()));
            values.push_back(value);
        }
        if (list || values.size() == 1) {
            for (int value : values)
                KX_RETURN_IF_ERROR(add(value));
        } else if (values.size() == 3 && values[1] <= values[2]) {
            KX_RETURN_IF_ERROR(add(values[0]));
            // Stops at the last number, never past it: the last may be the largest int.
            for (int n = values[1];; ++n) {
                KX_RETURN_IF_ERROR(add(n));
                if (n == values[2])
                    break;
            }
        } else {
            return CKxError(KxCode::InvalidData, KxFormat("Line %zu of split map [%s] is malformed: [%.*s]", lineNumber,
                                                          path.c_str(), static_cast<int>(line.size()), line.data()));
        }
    }
    return CKxError::Success();
}

CKxError CBackupPhase::ReadCollectFiles()
{
    m_summary = SBackupPhaseSummary{};
    m_extents = CExtentCheck{};
    m_filesTaken = 0;
    m_hardLinkFiles.clear();
    CUnixFileNameFactory names(m_backupType, m_resultsFolder);

    // A file cut short reads like a whole one: the scan's evidence tells them apart, so it is
    // checked before anything is read.
    const std::string folder = names.WorkUnitCollectFolder();
    const std::string splitMapName = FXPath::FileName(names.SplitCollect(0, 0));
    std::vector<std::string> files;
    KX_RETURN_IF_ERROR(CCollectEvidence::ListCovered(folder, names.WorkUnitCollectNamePattern(), splitMapName, files));
    KX_RETURN_IF_ERROR(CCollectEvidence::Verify(names.CollectEvidence(), folder, files));
    std::erase(files, splitMapName);

    std::set<int> mapped;
    KX_RETURN_IF_ERROR(ReadSplitMap(mapped));

    // Every file is read even after a failure, so that the summary tells the whole story; the
    // first failure is the phase's.
    CKxError firstFailure;
    for (const std::string& name : files) {
        ++m_summary.collectFiles;
        CKxError read = ReadCollectFile(FXPath::Append(folder, name));
        if (read.IsError()) {
            FSLOG_ERROR("%s", read.AsString().c_str());
            if (firstFailure.IsSuccess())
                firstFailure = std::move(read);
        }
    }
    if (firstFailure.IsSuccess() && !m_summary.interrupted)
        firstFailure = m_extents.Verify();
    return firstFailure;
}

CKxError CBackupPhase::ReadCollectFile(const std::string& path)
{
    CCollectFileReader reader;
    KX_RETURN_IF_ERROR(reader.OpenCollectFile(path));
    const std::string name = FXPath::FileName(path);
    const std::uint64_t itemsBefore = m_summary.items;
    const std::uint64_t bytesBefore = m_summary.bytes;
    std::string text;
    std::string itemPath;
    while (true) {
        KX_RETURN_IF_ERROR(reader.GetNextLine(text));
        if (reader.IsEndOfFile())
            break;
        const std::string& raw = reader.GetCurrentRawLine();
        if (raw.empty())
            continue;
        // The scan's own results-folder files are not content: they must exist, are counted
        // apart and are never owed (the next scan lists its folder afresh).
        if (raw.starts_with(CFlatCollectFile::kSubclientFilesPrefix)) {
            KX_RETURN_IF_FAILED(unescapeFileName(std::string_view(raw).substr(CFlatCollectFile::kSubclientFilesPrefix.size()),
                                                 itemPath),
                                "Line %llu of [%s]", static_cast<unsigned long long>(reader.GetLineNumber()), path.c_str());
            ++m_summary.subclientFiles;
            if (struct stat status {}; ::lstat(itemPath.c_str(), &status) != 0) {
                ++m_summary.subclientFilesMissing;
                FSLOG_ERROR("Subclient file [%s] is missing (errno %d)", itemPath.c_str(), errno);
            }
            continue;
        }
        if (m_stopAfter && m_filesTaken >= *m_stopAfter) {
            m_summary.interrupted = true;
            KX_RETURN_IF_ERROR(Owe(raw, !reader.IsSpecialLine()));
            continue;
        }
        if (HCollectFile::IsHardLinkLine(raw)) {
            KX_RETURN_IF_ERROR(ReadHardLinkLine(raw, name));
            continue;
        }
        if (reader.IsSpecialLine()) {
            bool extent = false;
            KX_RETURN_IF_FAILED(m_extents.Take(raw, extent), "Line %llu of [%s]",
                                static_cast<unsigned long long>(reader.GetLineNumber()), path.c_str());
            if (raw.starts_with("??d") || raw.starts_with("??D")) {
                ++m_summary.deletions;
                if (m_index) {
                    KX_RETURN_IF_FAILED(unescapeFileName(std::string_view(raw).substr(3), itemPath),
                                        "Line %llu of [%s]", static_cast<unsigned long long>(reader.GetLineNumber()),
                                        path.c_str());
                    m_index->AddDeletion(itemPath);
                }
            } else if (!extent) {
                ++m_summary.specialLines;
            } else if (CExtentLine::EKind kind; CExtentLine::KindOf(raw, kind) && kind == CExtentLine::EKind::Container) {
                // A file backed up by extents is one item, taken once with its container line
                // (not counted among the items, its size not added to the bytes).
                CExtentLine container;
                KX_RETURN_IF_FAILED(CExtentLine::Parse(raw, container), "Line %llu of [%s]",
                                    static_cast<unsigned long long>(reader.GetLineNumber()), path.c_str());
                TakeItem(container.path, false, false);
            }
            continue;
        }
        KX_RETURN_IF_ERROR(reader.GetCurrentPath(itemPath));
        const bool isFolder = reader.IsDirectory();
        ++m_summary.items;
        if (isFolder)
            ++m_summary.folders;
        TakeItem(itemPath, isFolder);
        if (!isFolder)
            ++m_filesTaken;
    }
    FSLOG(0, "Read collect file [%s]: %llu lines", path.c_str(), static_cast<unsigned long long>(reader.GetLineNumber()));
    m_summary.perFile.push_back({name, m_summary.items - itemsBefore, m_summary.bytes - bytesBefore});
    return CKxError::Success();
}

CKxError CBackupPhase::ReadHardLinkLine(const std::string& raw, const std::string& name)
{
    if (raw == HCollectFile::kHeader)
        return CKxError::Success();
    HLinkGroupElement element;
    KX_RETURN_IF_FAILED(HCollectFile::ParseLine(raw, element), "Malformed hard-link line in collect file [%s]",
                        name.c_str());
    auto [holder, first] = m_hardLinkFiles.try_emplace({element.device, element.inode}, name);
    if (!first && holder->second != name)
        return CKxError(KxCode::InvalidData,
                        KxFormat("The names of hard-linked file [%s] (device %llu, inode %llu) are split over collect "
                                 "files [%s] and [%s]",
                                 element.path.c_str(), static_cast<unsigned long long>(element.device),
                                 static_cast<unsigned long long>(element.inode), holder->second.c_str(), name.c_str()));
    ++m_summary.items;
    ++m_summary.hardLinkNames;
    if (first)
        ++m_summary.hardLinkFiles;
    TakeItem(element.path, false, first);
    ++m_filesTaken;
    return CKxError::Success();
}

void CBackupPhase::AddFailure(const std::string& path, int error, bool vanished)
{
    ++m_summary.unreadable;
    if (vanished)
        ++m_summary.vanished;
    FSLOG(0, "Item [%s] %s (errno %d)", path.c_str(), vanished ? "vanished since the scan" : "cannot be opened", error);
    if (m_summary.failures.size() < kMaxListedFailures)
        m_summary.failures.push_back(SItemFailure{path, error, vanished});
    if (!vanished && m_failedList && m_failedListError.IsSuccess())
        m_failedListError = m_failedList->Append(COwedItemLine::FormatFailedLine(path, error));
}

int CBackupPhase::CheckItem(const std::string& path, bool isFolderLine, bool countData, struct stat& status)
{
    const auto fail = [&](int error, bool vanished) {
        AddFailure(path, error, vanished);
        return error;
    };
    if (!m_failPattern.empty() && ::fnmatch(m_failPattern.c_str(), path.c_str(), 0) == 0)
        return fail(EIO, false);
    if (::lstat(path.c_str(), &status) != 0) {
        const int error = errno;
        return fail(error, error == ENOENT || error == ENOTDIR);
    }
    if (S_ISDIR(status.st_mode) != isFolderLine) {
        // Replaced by an item of the other kind since the scan: what the scan listed is gone.
        return fail(isFolderLine ? ENOTDIR : EISDIR, true);
    }
    int flags = 0;
    if (S_ISDIR(status.st_mode))
        flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    else if (S_ISREG(status.st_mode))
        flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    else
        return 0;  // links, fifos, sockets, devices: their status is what is backed up
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) {
        const int error = errno;
        // A link now where the file was (ELOOP under O_NOFOLLOW) is a replacement too.
        return fail(error, error == ENOENT || error == ENOTDIR || error == ELOOP);
    }
    ::close(fd);
    if (S_ISREG(status.st_mode) && countData)
        m_summary.bytes += static_cast<std::uint64_t>(status.st_size);
    return 0;
}

void CBackupPhase::TakeItem(const std::string& path, bool isFolderLine, bool countData)
{
    struct stat status {};
    const int error = CheckItem(path, isFolderLine, countData, status);
    if (!m_index)
        return;
    if (error == 0)
        m_index->AddItem(path, status);
    else
        m_index->AddFailure(path, error);
}

CKxError CBackupPhase::PutRecordInPlace(const CFileNameFactory& names, std::vector<std::string>& moved)
{
    const std::string temp = names.ConsolidatedDirChangeTemp();
    if (!FXFile::Exists(temp))
        return CKxError::Success();
    const std::string target = names.ConsolidatedDirChange(0);
    if (!names.IsFullBackup()) {
        KX_RETURN_IF_ERROR(FXFile::Rename(temp, target));
        moved.push_back(FXPath::FileName(temp) + " -> " + FXPath::FileName(target));
        return CKxError::Success();
    }
    // An incremental told nothing about the last jobs compares with the incremental record, so
    // a full leaves its record under both names. The copy is made first: if it fails, nothing
    // has moved and the previous records stay in force.
    const std::string incremental = names.ConsolidatedDirChange(2);
    // Copied under a temporary name and renamed, so a reader never sees half a record.
    const std::string incrementalTemp = incremental + ".fsbackup." + std::to_string(::getpid());
    KX_RETURN_IF_ERROR(CopyFile(temp, incrementalTemp));
    if (CKxError renamed = FXFile::Rename(temp, target); renamed.IsError()) {
        (void)FXFile::Remove(incrementalTemp);
        return renamed;
    }
    KX_RETURN_IF_ERROR(FXFile::Rename(incrementalTemp, incremental));
    moved.push_back(FXPath::FileName(temp) + " -> " + FXPath::FileName(target) + ", " + FXPath::FileName(incremental));
    return CKxError::Success();
}

CKxError CBackupPhase::PutDirChangeInPlace(std::vector<std::string>& moved)
{
    KX_RETURN_IF_ERROR(PutRecordInPlace(CUnixFileNameFactory(m_backupType, m_resultsFolder), moved));
    KX_RETURN_IF_ERROR(PutRecordInPlace(CFileNameFactorySQLiteDirchange(m_backupType, m_resultsFolder), moved));
    // The scan synced the records' data; the new names must be on disk before the phase reports.
    if (!moved.empty())
        KX_RETURN_IF_ERROR(COutputSync::SyncFolder(m_resultsFolder));
    return CKxError::Success();
}
