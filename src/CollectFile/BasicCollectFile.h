#pragma once
// CBasicCollectFile: a collect file written entry by entry through a line formatter, for
// scans that build their lines from entries rather than from engine items (content
// indexing, snapshot catalogs). One line per entry, in call order.
//
// Settings (before OpenOutputFile): the output path; whether folder entries are written
// (SetAllowFolders, default true: when false, folder entries are skipped and count as
// skipped); whether the job is a full backup (kept for the diagnostics); the longest path
// accepted (SetPathMaximumLength, 0 = no limit: a longer entry is refused with
// ENAMETOOLONG and nothing is written).
//
// Thread: after OpenOutputFile, AddEntry, RawWriteLine and the getters may be called from any
// thread (lines never interleave); the setters, OpenOutputFile and Close belong to the owner.
#include "Base/KxError.h"
#include "CollectFile/BufferedFile.h"
#include "CollectFile/CollectFileEntry.h"
#include "CollectFile/CollectLineFormatter.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

class CBasicCollectFile {
public:
    CBasicCollectFile() = default;
    ~CBasicCollectFile();

    void SetOutputFilePath(std::string path) { m_path = std::move(path); }
    void SetAllowFolders(bool allow) { m_allowFolders = allow; }
    void SetIsFullBackup(bool full) { m_isFullBackup = full; }
    void SetPathMaximumLength(size_t maximum) { m_pathMaximumLength = maximum; }
    // Creates (truncates) the output file; `append` keeps what is there.
    [[nodiscard]] CKxError OpenOutputFile(bool append = false);

    [[nodiscard]] CKxError AddEntry(const CCollectFileEntry& entry, const ICollectLineFormatter& formatter);
    // Writes `line` as it is (a newline is added unless it ends with one).
    [[nodiscard]] CKxError RawWriteLine(std::string_view line);

    std::uint64_t GetCountedFoldersWritten() const { return m_foldersWritten.load(std::memory_order_relaxed); }
    std::uint64_t GetCountedFilesWritten() const { return m_filesWritten.load(std::memory_order_relaxed); }
    std::uint64_t GetCountedEntriesSkipped() const { return m_entriesSkipped.load(std::memory_order_relaxed); }
    std::uint64_t GetDataSize() const { return m_dataSize.load(std::memory_order_relaxed); }
    const std::string& GetOutputFilePath() const { return m_path; }
    bool IsFullBackup() const { return m_isFullBackup; }
    bool IsOpen() const { return m_file.IsOpen(); }

    // Logs the time spent formatting and writing, with the counts (level 3).
    void LogTimeCounters() const;
    // Logs the file's settings and counts (level 0), for a failed job's log.
    void DumpDiagnosticData() const;
    [[nodiscard]] CKxError Close();

    CBufferedFile& File() { return m_file; }  // tests inject write failures through it

private:
    std::string m_path;
    bool m_allowFolders = true;
    bool m_isFullBackup = false;
    size_t m_pathMaximumLength = 0;
    CBufferedFile m_file;

    std::atomic<std::uint64_t> m_foldersWritten{0};
    std::atomic<std::uint64_t> m_filesWritten{0};
    std::atomic<std::uint64_t> m_entriesSkipped{0};
    std::atomic<std::uint64_t> m_rawLinesWritten{0};
    std::atomic<std::uint64_t> m_dataSize{0};
    std::atomic<std::uint64_t> m_formatNanoseconds{0};
    std::atomic<std::uint64_t> m_writeNanoseconds{0};
};
