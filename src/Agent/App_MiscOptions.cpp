#include "Agent/App_MiscOptions.h"

CKxError App_MiscOptions::getMiscOption(int64_t jobId, uint64_t appId, int option, std::string& /*value*/)
{
    return CKxError(KxCode::NotFound, "Option [" + std::to_string(option) + "] of job [" + std::to_string(jobId) +
                                          "] application [" + std::to_string(appId) + "] not saved");
}
