#pragma once
// ZVPI_CommClient: what the agent knows about a client by name.
//
// Thread: any thread.
#include <string>

#include "Base/KxError.h"

class ZVPI_CommClient {
public:
    // The job-results folder of `clientName`: the "client.jobResultsDir" of the first
    // application configuration (config/apps/*.json, in name order) whose "client.name" is
    // `clientName` and that sets one; otherwise <instance>/JobResults. Unreadable
    // configuration files are skipped. Fails with 87 without a focus.
    [[nodiscard]] static CKxError getJobResultsDirectory(const std::string& clientName, std::string& folder);
};
