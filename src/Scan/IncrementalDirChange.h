#pragma once
// IncrementalDirChange: records every item of a job in the job's directory-change record, the
// file the next job looks items up in and compares with to find new and deleted items.
//
// The record of a job is one index (CPathCacheFlatFileIndex) shared by all output stages: Init
// makes it for the job and names its file (the temporary "DCTmp.zvf"), SetPreviousBackingFile
// loads the previous job's record into it for lookups and the comparison, Close writes its
// closing index once the job is done with it. Each output stage (one per source volume) is one
// IncrementalDirChange consumer with its own buffer onto that index, made when the stage is
// made; a consumer made while no job has an index records nothing and only passes items on.
//
// Per item (Process): a record with the item's selection (CItem::IsSelected, set by the
// evaluator before the item gets here), the collect number of this stage, the backup
// frequency from the item bag ("DirChangeItemBackupFrequency") and, while ACL-only backup is
// on, the bag's "DirChangeItemACLOnly" for items that are not folders; version 2 records also
// carry the item's change time, true-up records its times, size and kind. The record goes into
// the buffer under the item's source path as a folder or a file; then the item is passed on. A
// failed write raises event 0x11000028 and returns "Failed to write to '<file>'" (the walk stops: our own file cannot be written).
//
// Thread: Init, SetPreviousBackingFile, Close, Reset, Compare, CompareForDeletedItems and the
// setters belong to the job's main thread, before or after the walk. Process runs on every
// worker thread at once: it takes no lock of its own (the buffer stages per thread) and makes
// no allocation beyond what the buffer keeps. FlushBuffer and CloseFile belong to the owner
// once the workers are done. The restart checks and AddItem may be called from any thread.
#include "Base/KxError.h"
#include "Base/TimeStamp.h"
#include "CollectFile/DirChangeItemBaseParser.h"
#include "CollectFile/FVBase.h"
#include "CollectFile/IDirChange.h"
#include "Engine/ContentMapperAPI.h"
#include "Engine/ItemConsumerChain.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class CPathCacheFlatFileIndex;
class CPathCacheFlatFileIndexBuffer;
class CPathCacheFlatFileIndexCompareCallback;

class IncrementalDirChange : public CItemConsumerChain {
public:
    static constexpr std::uint32_t kEventWriteFailed = 0x11000028;
    static constexpr std::uint32_t kEventOpenFailed = 0x600001E;
    // A non-full job found a previous record missing, damaged, cut short or of an unknown
    // version, and does without it.
    static constexpr std::uint32_t kEventPreviousRecordUnusable = 0x11000064;
    static constexpr long kDefaultMaxPathLength = 950;

    // ---- the job's record (process-wide: one job at a time) ---------------------------------
    // Makes a new record for job `jobId` written to `path` (created or emptied now), replacing
    // any record of an earlier job. Records: `itemInformation` the scan's version 1 fields,
    // `version2` the version 2 fields (the previous record is then read as version 2 too and
    // records without fields are not loaded); without either the records carry no fields.
    // `trueUp` (a job that runs a true-up): version 1 fields with the item's times, size and
    // kind (CTrueUpItemInfo), both files read with the true-up parser. Errors: "Failed to open '%s' for writing"
    // (event 0x600001E), "SetCurrentBackingFile failed, FileName=[%s]".
    [[nodiscard]] static CKxError Init(long long jobId, const std::string& path, ContentMapperAPIPtr mapper,
                                       bool trueUp, bool itemInformation, bool version2);
    // Loads the previous job's record. Missing, truncated or corrupt: the error names the path
    // and the cause ("Failed to set previous backing file, FileName=[%s]"); the record then has
    // no previous file and lookups answer "not found".
    [[nodiscard]] static CKxError SetPreviousBackingFile(const std::string& path);
    // Tells the job manager, through an event, that the previous record `record` cannot be used
    // because of `cause`, and what the job does instead (`consequence`).
    static void RaisePreviousRecordUnusable(const std::string& record, const std::string& cause,
                                            const char* consequence);
    static void SetIncludeFiles(bool include);
    static bool IsIncludeFiles();
    static void SetMaxPathLength(long length);
    static long GetMaxPathLength();
    // ACL-only backup: the metadata-only mark of files is kept in their records.
    static void SetACLOnlyBackup(bool on);
    static bool IsACLOnlyBackup();
    // The job's record (empty before Init and after Reset).
    static std::shared_ptr<CPathCacheFlatFileIndex> GetIndex();
    // The record as the previous-record lookup of the evaluators.
    static IDirChangePtr GetDirChangeInterface();
    // The parser the job reads records with (both files).
    static CDirChangeItemBaseParserPtr GetItemParser();
    // Adds (or replaces) the record of one path directly: items carried over or added by the
    // comparison. Error 6 when there is no record or it is closed.
    [[nodiscard]] static CKxError AddItem(const std::string& path, const FVBasePtr& record, bool isFile);
    // Compares this job's record with the previous one loaded (SetPreviousBackingFile).
    [[nodiscard]] static CKxError Compare(CPathCacheFlatFileIndexCompareCallback& callback, unsigned flags = 0);
    // Compares the closed record of this job with the file at `previousPath` (read as version
    // 1), `previousPath` taken as the older one. A file that cannot be loaded is the error of
    // its load ("error setting previous backing file for getting deleted items").
    [[nodiscard]] static CKxError CompareForDeletedItems(const std::string& previousPath,
                                                         CPathCacheFlatFileIndexCompareCallback& callback);
    // Writes the record's closing index ("Closing DirChange"); idempotent; success without a
    // record. The buffers must be flushed or closed before. After BeginClose it waits for the
    // background closing and returns its outcome.
    [[nodiscard]] static CKxError Close();
    // Starts Close's work on a thread of its own, so that the clean-up's next steps (the split
    // of the collect files) run beside it; nothing may be added to the record from now on.
    static void BeginClose();
    // Forgets the record (the end of a job); the file stays as written.
    static void Reset();

    // ---- one output stage --------------------------------------------------------------------
    // `collectFileId`: the collect number of this stage. `next` may be empty.
    IncrementalDirChange(CItemConsumerPtr next, long long consumerId, int collectFileId, bool trueUp = false,
                         bool version2 = false, long long jobId = 0);
    ~IncrementalDirChange() override;

    [[nodiscard]] CKxError Process(const CItemPtr& item) override;
    // This stage's staged records reach the file.
    [[nodiscard]] CKxError FlushBuffer();
    // Flushes and closes this stage's buffer ("Closing DirChange file (buffer object)"); later
    // items are errors. Idempotent.
    [[nodiscard]] CKxError CloseFile();

    // Restart checks against what this job recorded so far (flushed records only). Success
    // when the item is in this job's record, error 1168 when not.
    [[nodiscard]] CKxError CheckIfProcessWithCurrentAttempt(const CItemPtr& item) const;
    // Found in this job's record with "selected": `found` and its collect number; otherwise
    // error 1168.
    [[nodiscard]] CKxError CheckIfAddedToCollect(const CItemPtr& item, bool& found, int& collectFileId) const;

    long long GetConsumerId() const { return m_consumerId; }
    int GetCollectFileId() const { return m_collectFileId; }
    bool IsVersion2() const { return m_version2; }
    // False when the stage was made without a job record.
    bool IsRecording() const { return static_cast<bool>(m_buffer); }

private:
    // How Process makes a record's text: by the known formatter's rules, or through the
    // index's formatter with a record object (a formatter this stage does not know).
    enum class EFormat { Version1, Version2, TrueUp, NoFields, Records };

    [[nodiscard]] CKxError AddRecord(const std::string& path, bool isFolder, bool selected, const CTimeStamp& changeTime,
                                     unsigned frequency, bool aclOnly);

    std::shared_ptr<CPathCacheFlatFileIndex> m_index;
    std::unique_ptr<CPathCacheFlatFileIndexBuffer> m_buffer;
    long long m_consumerId;
    std::int32_t m_collectFileId;
    bool m_trueUp;
    bool m_version2;
    EFormat m_format = EFormat::Records;
    std::atomic<bool> m_closed{false};
};

using IncrementalDirChangePtr = std::shared_ptr<IncrementalDirChange>;
