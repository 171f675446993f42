#include "Agent/ApplicationId.h"

#include <cerrno>
#include <cstdlib>

#include "Agent/AppConfigReader.h"
#include "Agent/InstancePaths.h"
#include "Base/FXPath.h"
#include "Base/LogWriter.h"

struct ApplicationId::Loaded {
    uint64_t orbundId = 0;
    uint64_t appNumber = 0;
    AppConfig config;
    std::shared_ptr<Subclient> subclient;
    std::shared_ptr<SubclientConf> subclientConf;
    std::shared_ptr<Client> client;
    std::shared_ptr<ClientProperties> clientProperties;
    std::shared_ptr<FileSystemBackupSet> backupSet;
};

ApplicationId::ApplicationId(std::string text) : m_text(std::move(text)) {}

ApplicationId::ApplicationId(uint64_t orbundId, uint64_t appNumber)
    : m_text(std::to_string(orbundId) + ":" + std::to_string(appNumber))
{
}

CKxError ApplicationId::Parse(const std::string& text, uint64_t& orbundId, uint64_t& appNumber)
{
    auto number = [](const std::string& part, uint64_t& out) {
        if (part.empty() || part.size() > 20 || part.find_first_not_of("0123456789") != std::string::npos)
            return false;
        errno = 0;
        unsigned long long value = std::strtoull(part.c_str(), nullptr, 10);
        if (errno == ERANGE)
            return false;
        out = value;
        return true;
    };
    size_t colon = text.find(':');
    uint64_t o = 0, a = 0;
    if (colon == std::string::npos || !number(text.substr(0, colon), o) || !number(text.substr(colon + 1), a))
        return CKxError(KxCode::InvalidParameter,
                        "Invalid application id [" + text + "], expected <orbundId>:<appNumber>");
    orbundId = o;
    appNumber = a;
    return CKxError::Success();
}

std::string ApplicationId::getConfigPath() const
{
    std::string folder = CInstancePaths::AppsConfigFolder();
    return folder.empty() ? std::string() : FXPath::Append(folder, m_text + ".json");
}

void ApplicationId::Remember(const CKxError& error) const
{
    std::lock_guard lock(m_loadLock);
    m_lastError = error;
}

CKxError ApplicationId::getLastError() const
{
    std::lock_guard lock(m_loadLock);
    return m_lastError;
}

CKxError ApplicationId::EnsureLoaded()
{
    std::lock_guard lock(m_loadLock);
    if (m_attempted)
        return m_loadResult;
    m_attempted = true;

    auto loaded = std::make_shared<Loaded>();
    m_loadResult = Parse(m_text, loaded->orbundId, loaded->appNumber);
    if (m_loadResult.IsSuccess()) {
        std::string folder = CInstancePaths::AppsConfigFolder();
        if (folder.empty())
            m_loadResult = CKxError(KxCode::InvalidParameter, "No instance in focus for application [" + m_text + "]");
        else
            m_loadResult = CAppConfigReader::LoadFile(FXPath::Append(folder, m_text + ".json"), loaded->config);
    }
    if (m_loadResult.IsError()) {
        m_loadResult.Push("Failed to load application [" + m_text + "]");
        FSLOG(3, "%s", m_loadResult.AsString().c_str());
        return m_loadResult;
    }
    const AppConfig& config = loaded->config;
    if (config.subclient) {
        loaded->subclient = Subclient::Create(*config.subclient);
        loaded->subclientConf = std::make_shared<SubclientConf>(config.subclient);
    }
    if (config.client) {
        loaded->client = std::make_shared<Client>(config.client);
        loaded->clientProperties = std::make_shared<ClientProperties>(config.client);
    }
    if (config.backupSet)
        loaded->backupSet = std::make_shared<FileSystemBackupSet>(*config.backupSet);
    m_loaded = loaded;
    return m_loadResult;
}

CKxError ApplicationId::getApplicationId()
{
    CKxError result = EnsureLoaded();
    if (result.IsError())
        Remember(result);
    return result;
}

CKxError ApplicationId::getAppId(uint64_t& appNumber)
{
    CKxError result = EnsureLoaded();
    if (result.IsSuccess())
        appNumber = m_loaded->appNumber;
    else
        Remember(result);
    return result;
}

CKxError ApplicationId::getOrbundId(uint64_t& orbundId)
{
    CKxError result = EnsureLoaded();
    if (result.IsSuccess())
        orbundId = m_loaded->orbundId;
    else
        Remember(result);
    return result;
}

CKxError ApplicationId::getAppType(unsigned long& appType)
{
    CKxError result = EnsureLoaded();
    if (result.IsSuccess())
        appType = m_loaded->config.appType;
    else
        Remember(result);
    return result;
}

CKxError ApplicationId::getIndexV2(bool& useV2)
{
    CKxError result = EnsureLoaded();
    if (result.IsSuccess())
        useV2 = m_loaded->config.indexV2;
    else
        Remember(result);
    return result;
}

namespace {
// The object, or null with the reason remembered: the load failure or the missing section.
template <typename T>
std::shared_ptr<T> Hand(const CKxError& loadResult, const std::shared_ptr<T>& object, const char* section,
                        const std::string& text, CKxError& failure)
{
    if (loadResult.IsError()) {
        failure = loadResult;
        return nullptr;
    }
    if (!object)
        failure = CKxError(KxCode::UnknownProduct,
                           "Application [" + text + "] configuration has no [" + section + "] object");
    return object;
}
}  // namespace

std::shared_ptr<Subclient> ApplicationId::getSubclient()
{
    CKxError load = EnsureLoaded(), failure;
    auto object = Hand(load, load.IsSuccess() ? m_loaded->subclient : nullptr, "subclient", m_text, failure);
    if (failure.IsError())
        Remember(failure);
    return object;
}

std::shared_ptr<SubclientConf> ApplicationId::getSubclientConf()
{
    CKxError load = EnsureLoaded(), failure;
    auto object = Hand(load, load.IsSuccess() ? m_loaded->subclientConf : nullptr, "subclient", m_text, failure);
    if (failure.IsError())
        Remember(failure);
    return object;
}

std::shared_ptr<Client> ApplicationId::getClient()
{
    CKxError load = EnsureLoaded(), failure;
    auto object = Hand(load, load.IsSuccess() ? m_loaded->client : nullptr, "client", m_text, failure);
    if (failure.IsError())
        Remember(failure);
    return object;
}

std::shared_ptr<ClientProperties> ApplicationId::getClientProperties()
{
    CKxError load = EnsureLoaded(), failure;
    auto object = Hand(load, load.IsSuccess() ? m_loaded->clientProperties : nullptr, "client", m_text, failure);
    if (failure.IsError())
        Remember(failure);
    return object;
}

std::shared_ptr<FileSystemBackupSet> ApplicationId::getBackupSet()
{
    CKxError load = EnsureLoaded(), failure;
    auto object = Hand(load, load.IsSuccess() ? m_loaded->backupSet : nullptr, "backupSet", m_text, failure);
    if (failure.IsError())
        Remember(failure);
    return object;
}
