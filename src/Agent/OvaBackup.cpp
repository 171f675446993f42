#include "Agent/OvaBackup.h"

#include "Agent/AppConfigReader.h"

CKxError OvaBackup::getClientBaseVersion(uint64_t clientId, std::string& text)
{
    bool found = false;
    std::string version;
    KX_RETURN_IF_ERROR(CAppConfigReader::ForEachConfig([&](const AppConfig& config) {
        if (config.client && config.client->id == clientId) {
            found = true;
            version = config.client->baseVersion;
            return true;
        }
        return false;
    }));
    if (!found)
        return CKxError(KxCode::NotFound, "No application configuration names client id [" +
                                              std::to_string(clientId) + "]");
    text = version;
    return CKxError::Success();
}
