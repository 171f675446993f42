#pragma once
// CTrueUpJobHandle: the true-up of one file-system job: a qualifying incremental asks the backup
// index what the backups hold, writes it as a directory-change file ("DCTrueUp.zvf"), compares
// the job's own record with it after the walk, and backs up every item the backups miss or hold
// differently (docs/true-up.md). This base runs no true-up: every step succeeds and does nothing;
// CUnixTrueUpJobHandle does the work.
//
// Steps, in the job's order: InitializeTrueUpJob (configuration: qualification), TrueUpBrowseIndex
// (preparation, before the walk), ProcessTrueUpToCollect (clean-up, after the owed items were
// fed), MarkTrueUpJobComplete (only for a job that completes in the scan phase; otherwise the
// backup phase marks the state complete).
//
// Qualification (IsJobQualifiedForRunningTrueUp, a pure function of STrueUpQualifyInput):
//   1. "nSkipTrueUp" set: no ("TrueUp will be skipped because of nSkipTrueUp regkey");
//   2. neither enabled for the subclient, nor forced (-TrueUp), nor a file-server true-up: no;
//   3. a full: no, but it rewrites the state ("Full job will mark TrueUp complete");
//      a differential: no ("FULL and DIFFERENTIAL backups will not qualify for TrueUp.");
//   4. no state file: yes ("Job qualified for TrueUp as state file not found.");
//   5. forced, or the first incremental after a synthetic full: yes;
//   6. now - reference time >= days x 86400, or the state owes one: yes ("Job qualified for
//      TrueUp as TrueUp rules are met."); otherwise no.
//
// Ownership: the job's private object owns the handle; what the handle needs of the job is
// copied into STrueUpConfig (the callback and the bag shared). Thread: the job's main thread.
#include "Base/Bag.h"
#include "Base/KxError.h"
#include "Scan/TrueUpStateManager.h"

#include <cstdint>
#include <memory>
#include <string>

class CScanJobCallback;
class IBackupIndex;

// The job's values the handle needs (_TrueUpConfig_).
struct STrueUpConfig {
    long long jobId = 0;
    unsigned backupType = 0;
    std::string resultsFolder;  // the subclient's: the state and DCTrueUp.zvf live there
    CBagPtr bag;                // the scanner configuration
    std::shared_ptr<CScanJobCallback> callback;
    bool forced = false;          // -TrueUp
    bool afterSynthFull = false;  // the first incremental after a synthetic full
    // What the backups of the subclient hold (null: no index service).
    std::shared_ptr<IBackupIndex> index;
};

struct STrueUpQualifyInput {
    bool skipped = false;           // "SC:TrueUpSkipped"
    bool fileServerTrueUp = false;  // "SC::FileServerTrueUp"
    bool enabled = false;           // "SC:TrueUpEnabled"
    bool forced = false;
    bool afterSynthFull = false;
    unsigned backupType = 2;
    unsigned days = 0;  // "SC:idDaysToTrueUp"
    bool stateFound = false;
    STrueUpState state;
    long long now = 0;
};

enum class ETrueUpDecision { NotQualified, Qualified, FullMarksComplete };

class CTrueUpJobHandle {
public:
    static constexpr const char* kDirChangeFileName = "DCTrueUp.zvf";
    static constexpr long long kSecondsPerDay = 86400;

    explicit CTrueUpJobHandle(STrueUpConfig config);
    virtual ~CTrueUpJobHandle();
    CTrueUpJobHandle(const CTrueUpJobHandle&) = delete;
    CTrueUpJobHandle& operator=(const CTrueUpJobHandle&) = delete;

    [[nodiscard]] virtual CKxError InitializeTrueUpJob();
    [[nodiscard]] virtual CKxError TrueUpBrowseIndex();
    [[nodiscard]] virtual CKxError ProcessTrueUpToCollect();
    [[nodiscard]] virtual CKxError MarkTrueUpJobComplete();

    // Logs the decision's reason with the system's lines.
    static ETrueUpDecision IsJobQualifiedForRunningTrueUp(const STrueUpQualifyInput& input);

    bool IsQualified() const { return m_decision == ETrueUpDecision::Qualified; }

protected:
    STrueUpConfig m_config;
    ETrueUpDecision m_decision = ETrueUpDecision::NotQualified;
};

using CTrueUpJobHandlePtr = std::shared_ptr<CTrueUpJobHandle>;
