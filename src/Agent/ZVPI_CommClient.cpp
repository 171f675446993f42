#include "Agent/ZVPI_CommClient.h"

#include "Agent/AppConfigReader.h"
#include "Agent/InstancePaths.h"

CKxError ZVPI_CommClient::getJobResultsDirectory(const std::string& clientName, std::string& folder)
{
    std::string fallback = CInstancePaths::JobResultsFolder();
    if (fallback.empty())
        return CKxError(KxCode::InvalidParameter, "No instance in focus for the job-results folder");
    std::string configured;
    KX_RETURN_IF_ERROR(CAppConfigReader::ForEachConfig([&](const AppConfig& config) {
        if (config.client && config.client->name == clientName && !config.client->jobResultsDir.empty()) {
            configured = config.client->jobResultsDir;
            return true;
        }
        return false;
    }));
    folder = configured.empty() ? fallback : configured;
    return CKxError::Success();
}
