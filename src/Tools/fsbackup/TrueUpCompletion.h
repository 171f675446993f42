#pragma once
// The backup phase's part of the true-up: when the scan of the job asked for it (the phase
// arguments the scan gave the job manager carry "-trueup", or "-TrueUp" for a file-server
// true-up), a phase that succeeded marks the subclient's true-up state complete
// (TrueUpStateManager::MarkComplete), synced with its folder before the journal hears of the
// phase, so that the next incremental runs no true-up again before it is due.
//
// The phase arguments are read from the job-manager journal ("concatPhaseParams" records of the
// job). A journal line that is not JSON is skipped; an unreadable journal is an error.
#include "Base/KxError.h"

#include <cstdint>
#include <string>

namespace TrueUpCompletion {
// Marks the state in `resultsFolder` complete for `jobId` when asked; `marked` says whether.
[[nodiscard]] CKxError MarkIfAsked(std::int64_t jobId, const std::string& resultsFolder, bool& marked);
}  // namespace TrueUpCompletion
