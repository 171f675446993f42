#pragma once
// CChangeJournalScan: a scan of a subclient whose change journal the fsjournald daemon keeps
// (subclient key "changeJournal"). At the job's start, before the walk, it asks the daemon for
// the journal's point (every change made before it is journaled before it); a non-full job on
// the flat record then reads the journal and plans which folders the walk reads
// (CChangeJournalPlanner, CJournalFolderPlan), every other job walks and only learns what the
// next one needs. Once the job's record is closed, Store writes the point under that record's
// identity (ChangeJournalPoints) for the next job.
//
// Thread: the job's thread.
#include "Base/KxError.h"
#include "Scan/ChangeJournalPoints.h"

#include <memory>
#include <string>

class CPathCacheFlatFileIndex;
class CJournalFolderPlan;

class CChangeJournalScan {
public:
    struct SJob {
        std::string instanceFolder;
        std::string resultsFolder;    // the subclient's
        std::string configPath;       // the application configuration (content and filters)
        bool full = false;
        std::string walkCause;        // the job's own reason to walk (a job that takes more than changes)
        std::shared_ptr<CPathCacheFlatFileIndex> index;  // null: the database record
        std::string previousRecordPath;
    };
    // Asks the daemon (at most `timeoutMs`) and decides; logs the decision. Every doubt about the
    // journal, the daemon or the stored points is a walk, never a failure of the job.
    [[nodiscard]] CKxError Begin(const SJob& job, int timeoutMs);
    // The walk's plan: every job gets one (a walking one learns the multi-link names).
    std::shared_ptr<CJournalFolderPlan> Plan() const { return m_plan; }
    // Stores the point for the closed record of `index`; `failuresPath` lists what the scan
    // could not read (read again next time).
    [[nodiscard]] CKxError Store(const CPathCacheFlatFileIndex& index, const std::string& failuresPath);
    // The points file of a results folder.
    static std::string PointsPath(const std::string& resultsFolder);

private:
    std::string m_resultsFolder;
    SChangeJournalPoint m_point;  // what Store writes, but for the record and the multi-link names
    std::shared_ptr<CJournalFolderPlan> m_plan;
};
