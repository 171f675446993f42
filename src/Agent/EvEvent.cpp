#include "Agent/EvEvent.h"

#include <mutex>

#include <nlohmann/json.hpp>

#include "Agent/JobJournal.h"
#include "Base/LogWriter.h"

namespace {
std::mutex g_contextLock;  // guards g_processName, g_jobId
std::string g_processName;
int64_t g_jobId = 0;
}  // namespace

void EvEvent::CreateProcessContext(const std::string& processName)
{
    std::lock_guard lock(g_contextLock);
    g_processName = processName;
    g_jobId = 0;
}

void EvEvent::SetJobId(int64_t jobId)
{
    std::lock_guard lock(g_contextLock);
    g_jobId = jobId;
}

int64_t EvEvent::GetJobId()
{
    std::lock_guard lock(g_contextLock);
    return g_jobId;
}

std::string EvEvent::SeverityName(int severity)
{
    switch (severity) {
    case Information:
        return "information";
    case Minor:
        return "minor";
    case Major:
        return "major";
    case Critical:
        return "critical";
    default:
        return std::to_string(severity);
    }
}

CKxError EvEvent::Raise(uint32_t eventId, int severity, const std::string& message,
                        const std::vector<std::string>& args)
{
    int64_t jobId;
    std::string processName;
    {
        std::lock_guard lock(g_contextLock);
        jobId = g_jobId;
        processName = g_processName;
    }
    if (jobId == 0) {
        FSLOG(0, "Event 0x%X severity [%s] from [%s]: %s", eventId, SeverityName(severity).c_str(),
              processName.c_str(), message.c_str());
        return CKxError::Success();
    }
    nlohmann::ordered_json record;
    record["call"] = "event";
    record["id"] = eventId;
    record["severity"] = SeverityName(severity);
    record["message"] = message;
    if (!args.empty())
        record["args"] = args;
    return CJobJournal::Append(jobId, record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}
