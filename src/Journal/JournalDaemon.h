#pragma once
// CJournalDaemon: the change-journal daemon of one instance (fsjournald).
//
// Marks with fanotify (file-system marks, folder handles with names) every file system holding
// the content of the subclients that ask for a journal, including file systems mounted below
// their content, and appends to each subclient's journal the folders whose entries, or whose
// entries' data or metadata, changed (docs/change-journal.md). A journal is broken, and so
// read as "walk", when the event queue overflowed, a folder handle could not be resolved, the
// mount table changed, the configuration was re-read (SIGHUP), a content root was moved or
// deleted, or the journal could not be written. Broken journals are rotated to a new sequence
// when a scan asks to sync.
//
// Records of a drained batch of events reach each journal with one write; journals are
// fdatasync'ed at most once a second and at every sync request. SIGTERM or SIGINT ends every
// journal with "end", says on standard error how many events were read, and stops the loop.
//
// Ownership: owns every descriptor it opens. Thread: one thread; Run blocks until a stop signal.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "Base/KxError.h"
#include "Base/MountTable.h"
#include "Journal/FolderHandleResolver.h"
#include "Journal/JournalTargets.h"
#include "Journal/JournalWriter.h"

class CJournalDaemon {
public:
    CJournalDaemon() = default;
    CJournalDaemon(const CJournalDaemon&) = delete;
    CJournalDaemon& operator=(const CJournalDaemon&) = delete;
    ~CJournalDaemon();

    // Reads the configuration of the focused instance, marks, starts the journals and listens
    // on the socket. fanotify_init refused for want of privilege fails with code EPERM.
    [[nodiscard]] CKxError Start();
    // Serves events and sync requests until SIGTERM or SIGINT (blocked by Start).
    [[nodiscard]] CKxError Run();

private:
    struct SJournal {
        SJournalTarget target;
        std::vector<uint64_t> fsids;          // the file systems holding its content
        std::vector<std::string> rootKeys;    // handle keys of its content roots
        CJournalWriter writer;
        bool broken = false;
        std::string cause;
        std::unordered_set<std::string> written;  // folders written since the last sync
    };
    struct SClient {
        int fd = -1;
        std::string request;
    };

    CKxError Mark(const std::string& brokenCause);
    // The mounts that decide what a journal's content holds: those at or above a content root
    // and those below one, as text to compare.
    std::string MountsOfContent(const std::vector<SMountEntry>& mounts) const;
    // Marks again, breaking every journal, when the mounts of some content changed; a mount
    // elsewhere changes nothing.
    CKxError OnMountTableChange();
    CKxError Listen();
    CKxError DrainEvents();
    // `event` is a copy of the header of `record`, the event's bytes in the read buffer.
    void HandleEvent(const struct fanotify_event_metadata& event, const char* record);
    void GiveUpOnError(SJournal& journal, const char* what, const CKxError& error);
    void HandleFileWithoutFolder(const struct fanotify_event_info_fid& fid);
    void Break(SJournal& journal, const std::string& cause);
    void BreakAll(const std::string& cause);
    void AddFolder(SJournal& journal, std::string_view realPath, const SJournalRoot& root);
    void CheckSharedMappings(SJournal& journal);
    CKxError FlushAll();
    CKxError SyncAll();
    void Serve(SClient& client);
    std::string Answer(const std::string& request);
    CKxError Stop();

    std::string m_runId;
    std::vector<std::unique_ptr<SJournal>> m_journals;
    std::unordered_map<std::string, uint64_t> m_lastSequence;  // results folder -> last sequence of this run
    std::unordered_map<std::string, std::vector<SJournal*>> m_rootHandles;  // handle key of a content root
    std::unique_ptr<CFolderHandleResolver> m_resolver;
    int m_fanotify = -1;
    int m_signals = -1;
    int m_mountInfo = -1;
    std::string m_mountsOfContent;  // MountsOfContent when the file systems were last marked
    int m_listener = -1;
    std::string m_socketPath;
    std::vector<SClient> m_clients;
    std::vector<char> m_eventBuffer;
    uint64_t m_events = 0;  // read since the start, told at the stop
    int64_t m_lastSyncMs = 0;
    int64_t m_nextEventReadMs = 0;  // the queue is read again from then on
    bool m_unsynced = false;
};
