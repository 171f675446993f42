#include "Agent/ZVJobCtrlClient.h"

#include <nlohmann/json.hpp>

#include "Agent/JobJournal.h"
#include "Base/FXFile.h"

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
