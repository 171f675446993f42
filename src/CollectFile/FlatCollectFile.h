#pragma once
// CFlatCollectFile: the collect file of one output resource (one source volume): the list of
// items the backup phase reads. As an item consumer it writes one line per item:
//
//   <escaped source path>/           a folder
//   <escaped source path>|<size>     any other item, with its data size in bytes
//
// (escaping: FileNameEscaping.h). The split and post-processing steps write lines of their
// own with RawWriteItem and RawAppendFile.
//
// Counts: the processed-item count (CItemConsumer) grows by one per line written by Process
// or RawWriteItem, the folder count by one per folder line, the data size by each line's
// size. Open with truncation resets them (the file is empty again); Open for appending keeps
// them. RawWriteLine and RawAppendFile change no count.
//
// Failures: a write failure (ENOSPC, EIO, ...) is an error naming the file, returned by the
// call that meets it and by every later write and by Close; the engine then stops the walk.
//
// Thread: the chains of all worker threads share one collect file per volume: Process,
// RawWriteItem, RawAppendFile, tellp and the getters may be called from any thread; each line
// is appended whole, never interleaved. Open and Close belong to the owner and must not race
// with writes.
#include "Base/KxError.h"
#include "CollectFile/BufferedFile.h"
#include "Engine/ItemConsumer.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class CFlatCollectFile : public CItemConsumer {
public:
    CFlatCollectFile(long long jobId, std::string path, std::string sourceVolumePath = {});
    ~CFlatCollectFile() override;

    // Creates or truncates the file ("w"), or appends to it.
    [[nodiscard]] CKxError Open(bool append = false);
    bool IsOpen() const { return m_file.IsOpen(); }
    [[nodiscard]] CKxError Close();

    [[nodiscard]] CKxError Process(const CItemPtr& item) override;
    // Appends `line` as given (a newline is added unless it ends with one) and adds `size` to
    // the data total. A line ending in '/' counts as a folder.
    [[nodiscard]] CKxError RawWriteItem(std::string_view line, std::uint64_t size);
    // Appends `line` (and a newline unless it ends with one) without counting it: for lines
    // that are not items (deletions, markers).
    [[nodiscard]] CKxError RawWriteLine(std::string_view line);
    // Appends the whole file at `path`.
    [[nodiscard]] CKxError RawAppendFile(const std::string& path);
    [[nodiscard]] CKxError Flush();

    // Bytes in the file, buffered ones included.
    std::uint64_t tellp() const { return m_file.Tell(); }
    std::uint64_t GetFolderCount() const { return m_folders.load(std::memory_order_relaxed); }
    std::uint64_t GetItemCount() const { return getProcessedItemsCount(); }
    std::uint64_t GetDataSize() const { return m_dataSize.load(std::memory_order_relaxed); }
    void SetDataSize(std::uint64_t size) { m_dataSize.store(size, std::memory_order_relaxed); }
    const std::string& GetFileName() const { return m_path; }
    const std::string& GetSourceVolumePath() const { return m_sourceVolumePath; }

    // Appends the collect line of a path to `line`: escaped, then '/' for a folder or
    // "|<size>" for anything else, then a newline.
    static void FormatItemLine(std::string_view sourcePath, bool isFolder, std::uint64_t size, std::string& line);

    CBufferedFile& File() { return m_file; }  // tests inject write failures through it

protected:
    // Appends a whole line (with its newline) and updates the counts; the common tail of
    // every writer.
    CKxError AppendLine(std::string_view line, bool isFolder, std::uint64_t size);

private:
    std::string m_path;
    std::string m_sourceVolumePath;
    CBufferedFile m_file;
    std::atomic<std::uint64_t> m_folders{0};
    std::atomic<std::uint64_t> m_dataSize{0};
};

using CFlatCollectFilePtr = std::shared_ptr<CFlatCollectFile>;
