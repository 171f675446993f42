#pragma once
// CPathCacheFlatFileIndex: the directory-change record of one job. It writes this job's file
// (the "current" one) and reads the previous job's file (the "previous" one): one record per
// (source path, kind), folder or file, each kept as the record text the formatter makes.
//
// Layout (docs/dirchange-index.md): a header, then chunks, each holding entries of one folder
// sorted by name and kind, then a closing folder index sorted in path order and a trailer with
// a checksum. A folder may have several chunks; for the same (name, kind) the later chunk wins,
// except that a kept chunk's entry loses to one this file's job wrote.
// A file is only read after Close wrote its index and trailer; a file without them, or with a
// damaged header, index, trailer or chunk, is refused.
//
// Memory: the folder index of each file is held (one entry per chunk); a folder's entries are
// loaded when asked for and never all at once. Lookup keeps, per thread, the last folders it
// loaded, so a walker that asks for the entries of one folder reads that folder once.
//
// Paths: source paths without a trailing '/'; "/" is the root. An entry is kept in the chunk
// of its parent folder under its last name component.
//
// Thread: the setters, SetCurrentBackingFile, SetPreviousBackingFile, Compare and Close belong
// to the owner and must not race with anything else. Lookup, LookupCurrent, AddItem and
// CarryForward may be called from any thread at once. Buffers (PathCacheFlatFileIndexBuffer.h)
// hand their entries over from any thread.
#include "Base/KxError.h"
#include "CollectFile/DirChangeItemBaseFormatter.h"
#include "CollectFile/DirChangeItemBaseParser.h"
#include "CollectFile/FVBase.h"
#include "CollectFile/IDirChange.h"
#include "Engine/ContentMapperAPI.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

class CPathCacheFlatFileIndexCompareCallback;
class CDirChangeStaging;
struct SDirChangeComparisonSide;
namespace DirChangeFileLayout {
struct SChunkRef;
}

class CPathCacheFlatFileIndex : public IDirChange {
public:
    CPathCacheFlatFileIndex();
    CPathCacheFlatFileIndex(const CPathCacheFlatFileIndex&) = delete;
    CPathCacheFlatFileIndex& operator=(const CPathCacheFlatFileIndex&) = delete;
    ~CPathCacheFlatFileIndex() override;

    // Creates or truncates `path` as this job's (current) file. `mapper` may be null; the index
    // keeps it for its owner and translates nothing itself.
    [[nodiscard]] CKxError SetCurrentBackingFile(const std::string& path, ContentMapperAPIPtr mapper);
    // Loads the previous job's file: its folder index, after every chunk's hash was checked
    // (CDirChangeClosedFile::VerifyChunks). Missing, truncated or corrupt:
    // error naming the path and the cause (code 13 for a damaged file, the errno otherwise);
    // the index then has no previous file.
    [[nodiscard]] CKxError SetPreviousBackingFile(const std::string& path, ContentMapperAPIPtr mapper);
    // Defaults: the base formatter and the base parsers.
    void SetItemInfoFormatter(CDirChangeItemBaseFormatterPtr formatter);
    void SetCurrentBackingFileParser(CDirChangeItemBaseParserPtr parser);
    void SetPreviousBackingFileParser(CDirChangeItemBaseParserPtr parser);
    // Records with empty text make no record object (the record pointer is null).
    void SetAvoidLoadingEmptyItemInfo(bool avoid);
    // Default true; false: file entries are not written (adding one succeeds and stores
    // nothing). Lookups answer from what the files hold.
    void SetIncludeFiles(bool include);
    // Asked by every add: inline, one load.
    bool IsIncludeFiles() const { return m_includeFiles->load(std::memory_order_relaxed); }
    bool HasPreviousBackingFile() const;
    const std::string& GetCurrentBackingFilePath() const;
    const std::string& GetPreviousBackingFilePath() const;
    const CDirChangeItemBaseFormatterPtr& GetItemInfoFormatter() const;

    // IDirChange: lookup in the PREVIOUS file. Entries of a carried chunk answer "not found"
    // (see CarryForward). A chunk that cannot be read answers "not found" and is logged once.
    bool Lookup(std::string_view path, EKind kind, FVBasePtr* record = nullptr) override;
    // Lookup in the CURRENT file: what reached it through handed-over buffers so far (restart
    // checks). Entries still staged in a buffer are not seen.
    bool LookupCurrent(std::string_view path, EKind kind, FVBasePtr* record = nullptr);

    // Adds one entry directly (used after the comparison for items carried over). The entry
    // is staged and reaches the file at FlushPending, Compare or Close. Closed index: error 6.
    [[nodiscard]] CKxError AddItem(const std::string& path, const FVBasePtr& record, bool isFile);
    // Hands the entries staged by AddItem to the file (owner, once the adders are done).
    [[nodiscard]] CKxError FlushPending();
    // Copies the previous file's chunks of `folderPath` and of every folder below it into the
    // current file, marked carried: used for folders this job could not read, so that the
    // comparison finds no deletions below them and the NEXT job, whose Lookup answers "not
    // found" for carried entries, backs everything below them up. The folder's own entry (in
    // its parent's chunk) is not touched. No previous file, or nothing recorded there: success,
    // nothing copied.
    [[nodiscard]] CKxError CarryForward(const std::string& folderPath);
    // The same copy for a folder this job chose not to read because nothing in or below it
    // changed: the chunks are marked kept, not carried, so the NEXT job's lookups find them as
    // if this job had recorded them, and the comparison reports no deletions below the folder
    // and makes no call for the kept entries found in both files (they are the previous
    // records themselves). A chunk that was carried stays carried. The chunks are only noted
    // here; they are copied at the next hand-over (FlushPending, Compare, Close), all at once in
    // the previous file's order, without checking their hashes again: SetPreviousBackingFile
    // checked them all.
    void KeepUnchanged(std::string_view folderPath);
    // The same for the chunks of `folderPath` and every folder below it but those at or below
    // its sub-folders named in `except`: a folder whose entries did not change, entered only on
    // the way to the sub-folders `except` names.
    void KeepAllBut(std::string_view folderPath, const std::vector<std::string>& except);
    // Whether the previous file holds chunks of `folderPath` itself and none was carried: the
    // job that wrote it read the folder, and its entries can be kept.
    bool CanKeepEntriesOf(std::string_view folderPath) const;

    // Current against previous: OnInIndex1 = only in previous, OnInIndex2 = only in current.
    // A streaming merge of the two folder indexes in path order and, per folder, of its chunks
    // in both files. A folder entry only in previous is reported once; its descendants only if
    // the callback asks (OnInIndex1RecurseIntoDeletedFolder). A folder's chunk only in current:
    // its entries are OnInIndex2. Chunks only in previous whose folder is not deleted (the folder
    // emptied): their entries are OnInIndex1. Entries of carried chunks in current are in both
    // when the previous file has them. Entries staged by AddItem are handed over first. No
    // previous file: everything is OnInIndex2. The first callback error stops the comparison and
    // is returned with a pushed location; a damaged chunk is error 13. flags: reserved (0).
    [[nodiscard]] CKxError Compare(CPathCacheFlatFileIndexCompareCallback& callback, unsigned flags = 0);
    // This index's current file against another closed file `previousPath` (read with
    // `previousParser`, null: the base parser) as the previous one, e.g. the previous job's
    // file when the index's own previous file is a differential's reference. Otherwise as above.
    [[nodiscard]] CKxError CompareWith(const std::string& previousPath, CDirChangeItemBaseParserPtr previousParser,
                                       CPathCacheFlatFileIndexCompareCallback& callback, unsigned flags = 0);
    // Two closed files, `first` as the previous one, each read with the given parser (null:
    // the base parser).
    [[nodiscard]] static CKxError Compare(const std::string& first, const std::string& second,
                                          CPathCacheFlatFileIndexCompareCallback& callback, unsigned flags,
                                          CDirChangeItemBaseParserPtr firstParser,
                                          CDirChangeItemBaseParserPtr secondParser);
    // Writes what is staged by AddItem, the closing index and the trailer (idempotent). After
    // Close the current file is complete; later adds are errors; Compare and LookupCurrent still
    // see everything (the file stays open for reading until the index is destroyed or gets
    // another current file). Buffers must have been flushed before: a buffer's entries handed
    // over after Close are refused (error 6).
    [[nodiscard]] CKxError Close();
    // Close's work on a thread of its own, so that the owner can go on with other files
    // meanwhile: adds are refused from now on, and Close waits for the thread and returns what
    // closing gave. Without a thread, Close does the work itself. Owner only, like Close.
    void BeginClose();
    // Adds are refused (closing began). Asked by every add: inline, one load.
    bool IsClosed() const { return m_closed->load(std::memory_order_acquire); }

    // What tells one record from another: the hash of a closed file's folder index, which covers
    // the place and hash of every chunk (16 hex digits); empty when there is no previous file,
    // or the current one is not closed yet. Byte-identical records share it.
    std::string GetPreviousIdentity() const;
    std::string GetCurrentIdentity() const;

    // Numbers of the current file so far (tests, logs): entries added or carried (kept chunks are
    // copied without being counted), and chunks.
    std::uint64_t GetCurrentEntryCount() const;
    std::uint64_t GetCurrentChunkCount() const;

    // The system call that writes the current file (pwrite's form); tests replace it to inject
    // failures. Set before SetCurrentBackingFile.
    using WriteFunction = ssize_t (*)(int fd, const void* data, size_t size, off_t offset);
    void SetWriteFunction(WriteFunction write);

    struct SImpl;

private:
    friend class CDirChangeStaging;
    // Appends `bytes` (whole chunks; `chunks` give their offsets relative to `bytes`) to the
    // current file in one write, under the file's lock. A failed write is sticky: it is
    // returned by every later append and by Close. Closed file: error 6.
    [[nodiscard]] CKxError AppendChunks(std::string_view bytes, std::vector<DirChangeFileLayout::SChunkRef>& chunks,
                                        std::uint64_t entries);

    // The current file as one side of a comparison (staged entries handed over first).
    [[nodiscard]] CKxError CurrentSide(SDirChangeComparisonSide& side);

    // Copies the chunks KeepUnchanged and KeepAllBut noted (owner, before the file is compared
    // or closed).
    [[nodiscard]] CKxError CopyKept();
    [[nodiscard]] CKxError CloseNow();
    // Joins the thread BeginClose started; false when there was none.
    bool WaitForClosing();

    std::unique_ptr<SImpl> m_impl;
    const std::atomic<bool>* m_closed;        // the implementation's "adds are refused"
    const std::atomic<bool>* m_includeFiles;  // the implementation's flag
};

using CPathCacheFlatFileIndexPtr = std::shared_ptr<CPathCacheFlatFileIndex>;
