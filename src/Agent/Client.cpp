#include "Agent/Client.h"

#include "Agent/InstancePaths.h"

Client::Client(std::shared_ptr<const ClientData> data)
    : m_data(data ? std::move(data) : std::make_shared<const ClientData>())
{
}

CKxError Client::getClientId(uint64_t& id) const
{
    id = m_data->id;
    return CKxError::Success();
}

CKxError Client::getClientName(std::string& name) const
{
    name = m_data->name;
    return CKxError::Success();
}

CKxError Client::isQuillboxClient(bool& quillbox) const
{
    quillbox = m_data->quillbox;
    return CKxError::Success();
}

CKxError Client::getOpenVMSProxyClientId(int& proxyClientId) const
{
    proxyClientId = m_data->proxyClientId;
    return CKxError::Success();
}

CKxError Client::getBaseVersion(std::string& text) const
{
    text = m_data->baseVersion;
    return CKxError::Success();
}

CKxError Client::getJobResultsDir(std::string& folder) const
{
    if (!m_data->jobResultsDir.empty()) {
        folder = m_data->jobResultsDir;
        return CKxError::Success();
    }
    std::string fallback = CInstancePaths::JobResultsFolder();
    if (fallback.empty())
        return CKxError(KxCode::InvalidParameter, "No instance in focus for the job-results folder");
    folder = fallback;
    return CKxError::Success();
}
