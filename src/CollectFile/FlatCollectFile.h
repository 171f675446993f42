#pragma once
// CFlatCollectFile: the collect file of one output resource (one source volume): the list of
// items the backup phase reads. As an item consumer it writes one line per item:
//
//   <escaped source path>/           a folder
//   <escaped source path>|<size>     any other item, with its data size in bytes (without it
//                                    when the file is written in its final form: SetSizesInLines)
//   %EXTENTQ%...|<size>              a file the extent consumer marked in its bag for backup
//                                    by extents (CExtentLine); the extent splitter expands it
//
// (escaping: FileNameEscaping.h). The split and post-processing steps write lines of their
// own with RawWriteItem and RawAppendFile.
//
// Counts: the processed-item count (CItemConsumer) grows by one per line written by Process
// or RawWriteItem, the folder count by one per folder line, the data size by each line's
// size, at the call itself (staged lines are counted). Open with truncation resets them (the
// file is empty again); Open for appending keeps them. RawWriteLine and RawAppendFile change
// no count.
//
// Staging: Process is called once per item by every walker thread, so it does not take the
// file's lock per line. Each writing thread owns a staging slot of this file and formats its
// lines there; the slot's bytes reach the file in one append when they pass kHandOverBytes,
// and every slot is drained by Flush, Close and tellp. The lines of one thread therefore stay
// in the order written (the raw writers first hand over the calling thread's own slot, so this
// holds across Process and them too), while the batches of different threads interleave.
//
// Failures: a write failure (ENOSPC, EIO, ...) is an error naming the file. It is returned by
// the call that meets it (a raw write, Flush, Close, or the Process whose hand-over reaches
// the disk) and by every later write, Flush and Close; the engine then stops the walk. A
// failure met while tellp drains is kept for the next call. Lines staged or buffered when the
// file fails are lost with it.
//
// Thread: the chains of all worker threads share one collect file per volume: Process,
// RawWriteItem, RawWriteLine, RawAppendFile and the getters may be called from any thread;
// each line is appended whole, never interleaved. Flush and tellp may be called from any
// thread too and drain every slot under that slot's lock, but lines staged meanwhile by other
// threads may land after them: the owner calls them once the writers are done. Open and Close
// belong to the owner and must not race with writes; Open with truncation discards staged
// lines.
#include "Base/KxError.h"
#include "CollectFile/BufferedFile.h"
#include "Engine/ItemConsumer.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class CFlatCollectFile : public CItemConsumer {
public:
    // Staged bytes of one thread beyond which they are handed to the file.
    static constexpr size_t kHandOverBytes = size_t{64} << 10;
    // The mark before the path of a line that lists one of the subclient's own results-folder
    // files (or a folder on the way to them): backed up with the job, not content.
    static constexpr std::string_view kSubclientFilesPrefix = "%SCFILES%";

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
    // Appends whole item lines at once (`lines` ends with a newline) and counts them as given:
    // for writers that rewrite a collect file and already know what each line is.
    [[nodiscard]] CKxError RawWriteItems(std::string_view lines, std::uint64_t items, std::uint64_t folders,
                                         std::uint64_t size);
    // Appends `line` (and a newline unless it ends with one) without counting it: for lines
    // that are not items (deletions, markers).
    [[nodiscard]] CKxError RawWriteLine(std::string_view line);
    // Appends the whole file at `path`.
    [[nodiscard]] CKxError RawAppendFile(const std::string& path);
    [[nodiscard]] CKxError Flush();

    // Bytes in the file, buffered and staged ones included (drains the slots first).
    std::uint64_t tellp();
    std::uint64_t GetFolderCount() const { return m_folders.load(std::memory_order_relaxed); }
    std::uint64_t GetItemCount() const { return getProcessedItemsCount(); }
    std::uint64_t GetDataSize() const { return m_dataSize.load(std::memory_order_relaxed); }
    void SetDataSize(std::uint64_t size) { m_dataSize.store(size, std::memory_order_relaxed); }
    // For a file written by other means (rewritten in place): what it holds.
    void SetCounts(std::uint64_t items, std::uint64_t folders, std::uint64_t size)
    {
        setProcessedItemsCount(items);
        m_folders.store(folders, std::memory_order_relaxed);
        SetDataSize(size);
    }
    // Extent-qualified lines written since the file was created or truncated: a file without
    // one needs no extent expansion.
    std::uint64_t GetExtentQualifiedCount() const { return m_extentQualified.load(std::memory_order_relaxed); }
    const std::string& GetFileName() const { return m_path; }
    const std::string& GetSourceVolumePath() const { return m_sourceVolumePath; }

    // Appends the collect line of a path to `line`: escaped, then '/' for a folder or
    // "|<size>" for anything else (unless `withSize` is false), then a newline.
    static void FormatItemLine(std::string_view sourcePath, bool isFolder, std::uint64_t size, std::string& line,
                               bool withSize = true);

    // Whether Process writes the "|<size>" suffix (the default). A file no step will cut by
    // data size (a job of one stream) is written in its final form instead: nothing needs to
    // read it back and rewrite it, and its bytes may go to the disk as the walk writes them.
    void SetSizesInLines(bool sizes) { m_sizesInLines = sizes; }
    bool SizesInLines() const { return m_sizesInLines; }
    // The lines the file holds, when every one was written through this object since it was
    // created or truncated; false after an append of a whole file or an open for appending.
    bool CountedLines(std::uint64_t& lines) const
    {
        lines = GetItemCount() + m_otherLines.load(std::memory_order_relaxed);
        return m_linesCounted.load(std::memory_order_relaxed);
    }

    CBufferedFile& File() { return m_file; }  // tests inject write failures through it

protected:
    // Appends a whole line (with its newline) straight to the file and updates the counts; the
    // common tail of the direct writers.
    CKxError AppendLine(std::string_view line, bool isFolder, std::uint64_t size);
    CKxError AppendLines(std::string_view lines, std::uint64_t items, std::uint64_t folders, std::uint64_t size);

private:
    // The lines one thread staged and not yet handed to the file. Only its thread and a
    // drainer take `lock`, so it is uncontended while the walk runs.
    struct SStagingSlot {
        std::mutex lock;
        std::thread::id owner;
        std::string bytes;
    };

    // The calling thread's slot of this file; registers one when `create` and the thread has
    // none, else returns null then.
    SStagingSlot* ThreadSlot(bool create);
    // Moves the slot's bytes to the file in one append (slot lock held).
    CKxError HandOverLocked(SStagingSlot& slot);
    // Hands over the calling thread's slot, so that a direct write keeps its place after the
    // thread's earlier lines.
    CKxError HandOverOwnSlot();
    // Hands over every slot; the first failure met is returned.
    CKxError DrainSlots();
    void DiscardSlots();
    // After an error from the file: Process must refuse from now on if the file is lost or shut.
    void NoteFileError();

    std::string m_path;
    std::string m_sourceVolumePath;
    CBufferedFile m_file;
    std::atomic<std::uint64_t> m_folders{0};
    std::atomic<std::uint64_t> m_dataSize{0};
    std::atomic<std::uint64_t> m_extentQualified{0};
    // Lines that are not counted items (ancestors, special lines), and whether the count holds.
    std::atomic<std::uint64_t> m_otherLines{0};
    std::atomic<bool> m_linesCounted{true};
    bool m_sizesInLines = true;  // set by the owner before the walk

    // Process may stage: the file is open and has not failed.
    std::atomic<bool> m_writable{false};
    // Tells this file's entries in the threads' slot caches from any other file's, past or present.
    const std::uint64_t m_fileId;
    std::mutex m_slotsLock;  // guards the list m_slots (not the slots' bytes)
    std::vector<std::unique_ptr<SStagingSlot>> m_slots;
    std::atomic<size_t> m_slotCount{0};
};

using CFlatCollectFilePtr = std::shared_ptr<CFlatCollectFile>;
