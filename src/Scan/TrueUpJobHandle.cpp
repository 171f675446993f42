#include "Scan/TrueUpJobHandle.h"

#include "Base/LogWriter.h"

CTrueUpJobHandle::CTrueUpJobHandle(STrueUpConfig config) : m_config(std::move(config)) {}

CTrueUpJobHandle::~CTrueUpJobHandle() = default;

CKxError CTrueUpJobHandle::InitializeTrueUpJob() { return CKxError::Success(); }
CKxError CTrueUpJobHandle::TrueUpBrowseIndex() { return CKxError::Success(); }
CKxError CTrueUpJobHandle::ProcessTrueUpToCollect() { return CKxError::Success(); }
CKxError CTrueUpJobHandle::MarkTrueUpJobComplete() { return CKxError::Success(); }

ETrueUpDecision CTrueUpJobHandle::IsJobQualifiedForRunningTrueUp(const STrueUpQualifyInput& in)
{
    if (in.skipped) {
        FSLOG(0, "TrueUp will be skipped because of nSkipTrueUp regkey");
        return ETrueUpDecision::NotQualified;
    }
    if (in.fileServerTrueUp)
        FSLOG(0, "True-Up is enabled for this FileServer Scan");
    FSLOG(0,
          "TrueUp is enabled via subclient Option [%d], Forced TrueUp [%d], Incremental after SynthFull [%d], State "
          "file set to run scan [%d], State file set to run index query [%d]",
          in.enabled ? 1 : 0, in.forced ? 1 : 0, in.afterSynthFull ? 1 : 0, in.state.dcReadyForScan ? 1 : 0,
          in.state.queryIndexSet ? 1 : 0);
    if (!in.enabled && !in.forced && !in.fileServerTrueUp)
        return ETrueUpDecision::NotQualified;
    if (in.backupType == 1 || in.backupType == 4) {
        FSLOG(0, "FULL and DIFFERENTIAL backups will not qualify for TrueUp.");
        if (in.backupType != 1)
            return ETrueUpDecision::NotQualified;
        FSLOG(0, "Full job will mark TrueUp complete");
        return ETrueUpDecision::FullMarksComplete;
    }
    if (!in.stateFound) {
        FSLOG(0, "Job qualified for TrueUp as state file not found.");
        return ETrueUpDecision::Qualified;
    }
    if (in.forced || in.afterSynthFull) {
        FSLOG(0, "This job is running TrueUp because %s",
              in.forced ? "the job is forced to do so by command line parameters"
                        : "the job is incremental after synthetic full");
        return ETrueUpDecision::Qualified;
    }
    const long long due = in.state.refTime + static_cast<long long>(in.days) * kSecondsPerDay;
    if (in.now >= due || in.state.dcReadyForScan || in.state.queryIndexSet) {
        FSLOG(0, "Job qualified for TrueUp as TrueUp rules are met.");
        return ETrueUpDecision::Qualified;
    }
    FSLOG(3, "TrueUp is due in %lld seconds", due - in.now);
    return ETrueUpDecision::NotQualified;
}
