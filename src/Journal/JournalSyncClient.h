#pragma once
// CJournalSyncClient: asks the fsjournald daemon of an instance to bring a subclient's change
// journal up to now (socket <instance folder>/run/fsjournald.sock).
//
// Request "sync <escaped results folder>\n"; answers:
//     ok <run id> <sequence> <offset>               every change made before the request lies
//                                                   in the journal before <offset>
//     broken <run id> <sequence> <offset> <cause>   the journal was broken and is now sequence
//                                                   <sequence>, starting at <offset>
//     unknown                                       no journal for that results folder
// A missing socket, a refused connection, a peer that is neither root nor this process's user,
// or no whole answer within the time-out mean no daemon is keeping journals: state NotRunning
// with the reason in `cause`, not an error. An answer that is none of the above is an error
// (code 13) quoting it.
//
// Thread: any thread (no shared state). Blocks up to the time-out.
#include <cstdint>
#include <string>

#include "Base/KxError.h"

struct SJournalSyncPoint {
    enum EState { NotRunning, Unknown, Ok, Broken };
    EState state = NotRunning;
    std::string runId;
    uint64_t sequence = 0;
    uint64_t offset = 0;
    std::string cause;  // Broken: the daemon's cause; NotRunning: why no daemon answered
};

class CJournalSyncClient {
public:
    static constexpr int kDefaultTimeoutMs = 5000;

    // `instance` is the instance folder, or an instance name (no '/') below $FSWEEP_ROOT.
    [[nodiscard]] static CKxError Sync(const std::string& instance, const std::string& resultsFolder, int timeoutMs,
                                       SJournalSyncPoint& out);
    // <instance folder>/run/fsjournald.sock for either form of `instance`.
    static std::string SocketPath(const std::string& instance);
    // Parses one answer line (without its "\n").
    [[nodiscard]] static CKxError ParseAnswer(const std::string& line, SJournalSyncPoint& out);
};
