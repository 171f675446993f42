#pragma once
// CChangeJournalPlanner: decides whether a non-full incremental reads only the folders the
// change journal names, or walks the content as usual, and says why in one log line:
//     Change journal: walking the content: <cause>
//     Change journal: reading <n> changed folders of [<journal>]
// The journal is a hint, never the truth: any doubt that it holds every change made since the
// previous scan began makes the job walk. What it is given comes from the daemon's answer at
// the job's start, the point stored with the previous record, and the journal file itself.
//
// Thread: any (no shared state).
#include "Base/KxError.h"
#include "Journal/JournalReader.h"
#include "Journal/JournalSyncClient.h"
#include "Scan/ChangeJournalPoints.h"

#include <functional>
#include <string>
#include <vector>

class CChangeJournalPlanner {
public:
    struct SInput {
        bool databaseRecord = false;
        std::string jobCause;  // the job itself must walk (why), e.g. it has no reference time
        std::string previousRecordPath;
        std::string previousRecord;  // identity of the loaded previous record; empty: none usable
        std::string contentHash;     // of the content and filters this job scans
        SJournalSyncPoint sync;      // the daemon's answer at the job's start
        std::string syncError;       // an answer that could not be used (sync is then ignored)
        const SChangeJournalPoint* stored = nullptr;  // the point stored for the previous record
        std::string journalPath;
    };
    struct SDecision {
        bool walk = true;
        std::string cause;                 // why it walks
        std::vector<std::string> folders;  // the changed folders the journal names (journal only)
    };
    // Reads [from, to) of the journal (CJournalReader::Read's form).
    using ReadSpan = std::function<CKxError(const std::string& journal, std::uint64_t from, std::uint64_t to,
                                            SJournalSpan& span)>;
    // The (device, inode) of `path` and when it came into being (unix seconds; 0 unknown);
    // false when it is gone.
    using Identify = std::function<bool(const std::string& path, std::uint64_t& device, std::uint64_t& inode,
                                        std::int64_t& born)>;

    // The decision, logged in its line.
    static SDecision Decide(const SInput& input, const ReadSpan& read, const Identify& identify);

private:
    static SDecision Choose(const SInput& input, const ReadSpan& read, const Identify& identify);
};
