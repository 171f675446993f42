#pragma once
// CJournalWriter: the daemon's side of one subclient's change journal
// (<results folder>/ChangeJournal.jnl, format in JournalFormat.h).
//
// Records are gathered in memory and reach the file in one write per Flush, so that a drained
// batch of events costs one system call per journal; Sync makes what was flushed durable.
// Start and Rotate put a new journal in place: the header goes into a temporary created with
// O_EXCL and O_NOFOLLOW through the results folder's descriptor (mode 0600), is synced, and is
// renamed over the journal name; the folder is synced after the rename. Nothing is ever opened
// by path below the results folder.
//
// Ownership: owns the folder and file descriptors. Thread: one thread (the daemon's loop).
#include <cstdint>
#include <string>
#include <string_view>

#include "Base/KxError.h"

class CJournalWriter {
public:
    CJournalWriter() = default;
    CJournalWriter(const CJournalWriter&) = delete;
    CJournalWriter& operator=(const CJournalWriter&) = delete;
    ~CJournalWriter();

    // Opens `resultsFolder` (created 0700 when missing) and starts sequence `sequence` of run
    // `runId`, complete since `completeSince`.
    [[nodiscard]] CKxError Start(const std::string& resultsFolder, const std::string& runId, uint64_t sequence,
                                 int64_t completeSince);
    // Replaces the journal with the next sequence (pending records are dropped: they belonged
    // to the journal being replaced).
    [[nodiscard]] CKxError Rotate(int64_t completeSince);

    void AddFolder(std::string_view path);
    void AddLink(std::string_view path);
    void AddBroken(std::string_view cause);
    void AddEnd();
    bool HasPending() const { return !m_pending.empty(); }

    // Writes the pending records with one write.
    [[nodiscard]] CKxError Flush();
    // fdatasync of what was flushed (no call when nothing was written since the last sync).
    [[nodiscard]] CKxError Sync();

    const std::string& ResultsFolder() const { return m_folder; }
    const std::string& RunId() const { return m_runId; }
    uint64_t Sequence() const { return m_sequence; }
    uint64_t Size() const { return m_size; }          // bytes written (flushed) so far
    uint64_t HeaderSize() const { return m_headerSize; }
    std::string JournalPath() const;

private:
    CKxError Replace(int64_t completeSince);

    std::string m_folder;
    std::string m_runId;
    uint64_t m_sequence = 0;
    int m_folderFd = -1;
    int m_fd = -1;
    uint64_t m_size = 0;
    uint64_t m_headerSize = 0;
    bool m_unsynced = false;
    std::string m_pending;
};
