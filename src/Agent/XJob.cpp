#include "Agent/XJob.h"

#include <mutex>

#include "Agent/ApplicationId.h"
#include "Agent/InstancePaths.h"
#include "Agent/ZVPI_CommClient.h"
#include "Agent/ZVPlatformInfo.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"

namespace {
std::mutex g_clientNameLock;  // guards g_clientName
std::string g_clientName;

CKxError ResultsFolder(const std::string& below, std::string& path)
{
    std::string base = CInstancePaths::JobResultsFolder();
    if (base.empty())
        return CKxError(KxCode::InvalidParameter, "No instance in focus for the results folders");
    std::string folder = FXPath::Append(base, below);
    KX_RETURN_IF_FAILED(FXFile::CreateDirectories(folder), "Failed to create results folder [%s]", folder.c_str());
    path = folder;
    return CKxError::Success();
}
}  // namespace

void CXJob::SetFocusClientName(const std::string& clientName)
{
    std::lock_guard lock(g_clientNameLock);
    g_clientName = clientName;
}

std::string CXJob::GetFocusClientName()
{
    std::lock_guard lock(g_clientNameLock);
    return g_clientName;
}

CKxError CXJob::GetFileSystemResultPathForJobFromApplicationId(const std::string& appId, int64_t jobId,
                                                               std::string& path)
{
    uint64_t orbundId = 0, appNumber = 0;
    KX_RETURN_IF_ERROR(ApplicationId::Parse(appId, orbundId, appNumber));
    return ResultsFolder("jobs/" + std::to_string(jobId), path);
}

CKxError CXJob::GetFileSystemResultPathForSubclient(uint64_t orbundId, uint64_t appNumber, std::string& path)
{
    return ResultsFolder(std::to_string(orbundId) + "/" + std::to_string(appNumber), path);
}

CKxError CXJob::GetServerName(std::string& serverName)
{
    std::string name;
    if (!ZVPlatformInfo::getString("GlobalParams", "sJobManagerHost", name) || name.empty())
        name = "localhost";
    serverName = name;
    return CKxError::Success();
}

CKxError CXJob::GetJobResultsDirectory(std::string& folder)
{
    return ZVPI_CommClient::getJobResultsDirectory(GetFocusClientName(), folder);
}

std::string CXJob::getVantrelTempDirectory()
{
    std::string folder = CInstancePaths::TmpFolder();
    if (!folder.empty() && FXFile::CreateDirectories(folder).IsError())
        return {};
    return folder;
}
