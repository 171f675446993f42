#include "Scan/ChangeJournalPlanner.h"

#include "Base/FileNameEscaping.h"
#include "Base/LogWriter.h"

#include <algorithm>

namespace {
CChangeJournalPlanner::SDecision Walk(std::string cause)
{
    CChangeJournalPlanner::SDecision decision;
    decision.cause = std::move(cause);
    return decision;
}

std::string Identity(const std::string& runId, std::uint64_t sequence)
{
    return "run " + runId + " sequence " + std::to_string(sequence);
}
}  // namespace

CChangeJournalPlanner::SDecision CChangeJournalPlanner::Decide(const SInput& input, const ReadSpan& read,
                                                               const Identify& identify)
{
    SDecision decision = Choose(input, read, identify);
    if (decision.walk)
        FSLOG(0, "Change journal: walking the content: %s", decision.cause.c_str());
    else
        FSLOG(0, "Change journal: reading %zu changed folders of [%s]", decision.folders.size(),
              input.journalPath.c_str());
    return decision;
}

CChangeJournalPlanner::SDecision CChangeJournalPlanner::Choose(const SInput& input, const ReadSpan& read,
                                                               const Identify& identify)
{
    if (input.databaseRecord)
        return Walk("the database record cannot be read in part");
    if (!input.jobCause.empty())
        return Walk(input.jobCause);
    if (!input.syncError.empty())
        return Walk("the journal daemon's answer cannot be used: " + input.syncError);
    const SJournalSyncPoint& sync = input.sync;
    switch (sync.state) {
    case SJournalSyncPoint::NotRunning: return Walk("the journal daemon is not running (" + sync.cause + ")");
    case SJournalSyncPoint::Unknown: return Walk("the journal daemon keeps no journal for this subclient");
    case SJournalSyncPoint::Broken: return Walk("the journal is broken: " + sync.cause);
    case SJournalSyncPoint::Ok: break;
    }
    if (input.previousRecord.empty())
        return Walk("the previous record [" + input.previousRecordPath + "] is missing or unusable");
    const SChangeJournalPoint* stored = input.stored;
    if (!stored || stored->runId.empty())
        return Walk("no journal point is stored for the previous record [" + input.previousRecordPath +
                    "]: the daemon did not keep the journal since the previous scan began");
    if (stored->runId != sync.runId || stored->sequence != sync.sequence)
        return Walk("the journal's identity changed (" + Identity(sync.runId, sync.sequence) +
                    ", the previous scan saw " + Identity(stored->runId, stored->sequence) + ")");
    if (stored->contentHash != input.contentHash)
        return Walk("content or filters changed");
    if (stored->offset > sync.offset)
        return Walk("the journal is damaged: it ends before the point the previous scan stored");
    SJournalSpan span;
    if (CKxError readError = read(input.journalPath, stored->offset, sync.offset, span); readError.IsError())
        return Walk("the journal is damaged: " + readError.Message());
    if (span.broken)
        return Walk("the journal is broken: " + span.brokenCause);
    if (span.ended)
        return Walk("the journal daemon stopped since the previous scan");
    for (const std::string& link : span.links) {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::int64_t born = 0;
        // Gone again: the move or removal that took this name away was told later in the
        // journal, by a name the file still has (or by the folder of its one name left).
        if (!identify(link, device, inode, born))
            continue;
        // A file that came into being after the previous scan began has had all its names
        // created since, each journaled in its folder; an older one may keep a name in a folder
        // the journal never named.
        if (born > stored->time && born != 0)
            continue;
        if (!std::binary_search(stored->multiLinkFiles.begin(), stored->multiLinkFiles.end(),
                                std::make_pair(device, inode)))
            return Walk("a new link [" + escapeFileName(link) + "] to a file the previous scan did not know as multi-link");
    }
    SDecision decision;
    decision.walk = false;
    decision.folders = std::move(span.folders);
    return decision;
}
