#pragma once
// CXJob: the job context: the client the process works for and the results folders of the
// focused instance.
//
//   subclient results folder   <instance>/JobResults/<orbundId>/<appNumber>
//   job results folder         <instance>/JobResults/jobs/<jobId>
//   client job-results folder  the client's "jobResultsDir" or <instance>/JobResults
//   temporary folder           <instance>/tmp
//
// The results-folder getters create the folder when it is missing. Without a focus
// (ZVPI_Focus::setFocus) every getter fails with 87.
//
// Thread: any thread; the focus client name is guarded by a process-wide lock.
#include <cstdint>
#include <string>

#include "Base/KxError.h"

class CXJob {
public:
    static void SetFocusClientName(const std::string& clientName);
    static std::string GetFocusClientName();

    // `appId` is "<orbundId>:<appNumber>" (checked, 87 when malformed).
    [[nodiscard]] static CKxError GetFileSystemResultPathForJobFromApplicationId(const std::string& appId, int64_t jobId,
                                                                                std::string& path);
    [[nodiscard]] static CKxError GetFileSystemResultPathForSubclient(uint64_t orbundId, uint64_t appNumber,
                                                                     std::string& path);
    // Setting "sJobManagerHost" in section "GlobalParams"; "localhost" when absent or empty.
    [[nodiscard]] static CKxError GetServerName(std::string& serverName);
    // The focus client's job-results folder (ZVPI_CommClient::getJobResultsDirectory).
    [[nodiscard]] static CKxError GetJobResultsDirectory(std::string& folder);
    // <instance>/tmp, created when missing; "" without a focus.
    static std::string getVantrelTempDirectory();
};
