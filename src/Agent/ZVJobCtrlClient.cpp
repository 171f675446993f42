#include "Agent/ZVJobCtrlClient.h"

#include <nlohmann/json.hpp>

#include <cerrno>

#include "Agent/JobJournal.h"
#include "Agent/InstancePaths.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"

ZVJobCtrlClient::ZVJobCtrlClient(int64_t jobId) : m_jobId(jobId) {}

CKxError ZVJobCtrlClient::initJobControl(const std::string& token)
{
    if (token.empty())
        return CKxError(KxCode::InvalidParameter, "Empty job token for job control");
    m_token = token;
    return CKxError::Success();
}

bool ZVJobCtrlClient::checkQuitFlag() const
{
    std::string path = CJobJournal::QuitFlagPathFor(m_jobId);
    return !path.empty() && FXFile::Exists(path);
}

CKxError ZVJobCtrlClient::finishedWorkWithoutExit(uint32_t milliseconds)
{
    nlohmann::ordered_json record;
    record["call"] = "finishedWorkWithoutExit";
    record["ms"] = milliseconds;
    return CJobJournal::Append(m_jobId, record.dump());
}

CKxError ZVJobCtrlClient::getJobErrorRules(uint64_t clientId, unsigned long appType, std::string& rules) const
{
    rules.clear();
    const std::string folder = CInstancePaths::JobManagerFolder();
    if (folder.empty())
        return CKxError(ENOENT, "No instance focused: no error rules");
    const std::string path = FXPath::Append(FXPath::Append(folder, "ErrorRules"),
                                            std::to_string(clientId) + "_" + std::to_string(appType) + ".xml");
    return FXFile::ReadWholeFile(path, rules);
}
