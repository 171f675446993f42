#pragma once
// EvEvent: the process's event context, through which events for the operator are raised.
//
// Once the job id is set, an event is appended to the job's journal:
//   {"call":"event","id":285212736,"severity":"information","message":"text","args":["a"]}
// ("args" only when there are any; "severity" is the name of a known severity, else its
// number as text). Before the job id is known events go to the log at level 0.
//
// Thread: any thread; the context is process-wide and guarded by its own lock.
#include <cstdint>
#include <string>
#include <vector>

#include "Base/KxError.h"

class EvEvent {
public:
    enum ESeverity { Information = 1, Minor = 3, Major = 6, Critical = 9 };

    // Starts the process's context (process name for log lines); clears any job id.
    static void CreateProcessContext(const std::string& processName);
    static void SetJobId(int64_t jobId);
    static int64_t GetJobId();  // 0 when not set
    static std::string SeverityName(int severity);

    [[nodiscard]] static CKxError Raise(uint32_t eventId, int severity, const std::string& message,
                                        const std::vector<std::string>& args = {});
};
