#include "Agent/BackupJobClient.h"

#include <nlohmann/json.hpp>

#include "Agent/InstancePaths.h"
#include "Agent/JobJournal.h"
#include "Base/FXFile.h"
#include "Base/LogWriter.h"

using nlohmann::ordered_json;

namespace {
std::string Line(ordered_json record)
{
    // Invalid UTF-8 in texts (paths) is replaced rather than thrown on.
    return record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

ordered_json Call(const char* name)
{
    ordered_json record;
    record["call"] = name;
    return record;
}
}  // namespace

std::shared_ptr<CBackupJobClient> CBackupJobClient::createInstance(const std::string& server, int64_t jobId,
                                                                   int /*reserved*/, int /*platformType*/,
                                                                   bool /*flag*/, const std::string& token)
{
    std::string folder = CInstancePaths::JobManagerFolder();
    if (folder.empty()) {
        FSLOG_ERROR("No instance in focus, cannot reach the job manager for job [%lld]", static_cast<long long>(jobId));
        return nullptr;
    }
    CKxError created = FXFile::CreateDirectories(folder);
    if (created.IsError()) {
        FSLOG_ERROR("Cannot prepare the job-manager folder: %s", created.AsString().c_str());
        return nullptr;
    }
    return std::make_shared<CBackupJobClient>(server, jobId, token, CJobManagerFaults::Current());
}

CBackupJobClient::CBackupJobClient(std::string server, int64_t jobId, std::string token, CJobManagerFaults::Plan plan)
    : m_server(std::move(server)), m_jobId(jobId), m_token(std::move(token)), m_plan(std::move(plan))
{
}

const char* CBackupJobClient::ActionName(int action)
{
    switch (action) {
    case JMSTRSET:
        return "JMSTRSET";
    case JMCONCAT:
        return "JMCONCAT";
    case JMNULLIFY:
        return "JMNULLIFY";
    default:
        return "??";
    }
}

CKxError CBackupJobClient::Record(const char* call, const std::string& jsonObject, CJobJournal::EDurability durability)
{
    CKxError result;
    {
        std::lock_guard lock(m_stateLock);
        size_t number = ++m_calls;
        if ((m_plan.failNthCall != 0 && number == m_plan.failNthCall) ||
            (!m_plan.failCallName.empty() && m_plan.failCallName == call)) {
            result = CKxError(m_plan.code, std::string("Injected job-manager failure in [") + call + "]");
        }
    }
    if (result.IsSuccess())
        result = CJobJournal::Append(m_jobId, jsonObject, durability);
    if (result.IsError()) {
        std::lock_guard lock(m_stateLock);
        m_lastErrorNumber = static_cast<int>(result.Code());
        m_lastErrorText = result.Message();
        return std::move(result).Push(std::string("Job-manager call [") + call + "] failed");
    }
    return result;
}

CKxError CBackupJobClient::setNumStreams(int streams)
{
    ordered_json r = Call("setNumStreams");
    r["streams"] = streams;
    return Record("setNumStreams", Line(r));
}

CKxError CBackupJobClient::concatPhaseParams(const std::string& params, int action)
{
    ordered_json r = Call("concatPhaseParams");
    r["params"] = params;
    r["action"] = ActionName(action);
    return Record("concatPhaseParams", Line(r));
}

CKxError CBackupJobClient::updateInfo() { return Record("updateInfo", Line(Call("updateInfo"))); }

CKxError CBackupJobClient::setReferenceTime(int64_t seconds)
{
    ordered_json r = Call("setReferenceTime");
    r["time"] = seconds;
    return Record("setReferenceTime", Line(r));
}

CKxError CBackupJobClient::setUncompBytesToXfer(uint64_t bytes)
{
    ordered_json r = Call("setUncompBytesToXfer");
    r["bytes"] = bytes;
    return Record("setUncompBytesToXfer", Line(r));
}

CKxError CBackupJobClient::setUnCompBytesToAdd(uint64_t bytes)
{
    ordered_json r = Call("setUnCompBytesToAdd");
    r["bytes"] = bytes;
    return Record("setUnCompBytesToAdd", Line(r));
}

CKxError CBackupJobClient::addFilesIndexed(uint64_t count)
{
    ordered_json r = Call("addFilesIndexed");
    r["count"] = count;
    return Record("addFilesIndexed", Line(r));
}

CKxError CBackupJobClient::addScanFileFailures(uint64_t count)
{
    ordered_json r = Call("addScanFileFailures");
    r["count"] = count;
    return Record("addScanFileFailures", Line(r));
}

CKxError CBackupJobClient::complete(int status, int statusFor, const std::string& message)
{
    ordered_json r = Call("complete");
    r["status"] = status;
    r["for"] = statusFor;
    if (!message.empty())
        r["message"] = message;
    return Record("complete", Line(r), CJobJournal::EDurability::Synced);
}

CKxError CBackupJobClient::setPendingCause(uint32_t eventMessageId, const std::vector<std::string>& args)
{
    ordered_json r = Call("setPendingCause");
    r["id"] = eventMessageId;
    r["args"] = args;
    return Record("setPendingCause", Line(r));
}

CKxError CBackupJobClient::setPendingCauseAndCriticalEvent(uint32_t eventMessageId,
                                                           const std::vector<std::string>& args)
{
    ordered_json r = Call("setPendingCauseAndCriticalEvent");
    r["id"] = eventMessageId;
    r["args"] = args;
    return Record("setPendingCauseAndCriticalEvent", Line(r));
}

CKxError CBackupJobClient::jobAlive() { return Record("jobAlive", Line(Call("jobAlive"))); }

CKxError CBackupJobClient::setIndexQueriedForIncompleteLargeFiles(bool value)
{
    ordered_json r = Call("setIndexQueriedForIncompleteLargeFiles");
    r["value"] = value;
    return Record("setIndexQueriedForIncompleteLargeFiles", Line(r));
}

int CBackupJobClient::getLastErrorNumber() const
{
    std::lock_guard lock(m_stateLock);
    return m_lastErrorNumber;
}

std::string CBackupJobClient::getLastErrorText() const
{
    std::lock_guard lock(m_stateLock);
    return m_lastErrorText;
}
