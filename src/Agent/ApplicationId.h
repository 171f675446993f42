#pragma once
// ApplicationId: one application (subclient) of the focused instance, named by the text
// "<orbundId>:<appNumber>", with its configuration from config/apps/<orbundId>:<appNumber>.json.
//
// getApplicationId loads and validates the whole file once: a missing file (code 2), a JSON
// syntax error (code 13, message with line and column), a key of the wrong type or a missing
// "appType" (code 13, message naming the file and the key) are error values, never a crash.
// A text that is not "<number>:<number>" fails with 87. Every other getter loads on first use
// when getApplicationId was not called; the getters returning objects answer an empty
// pointer on failure and keep the failure for getLastError.
//
// Ownership: shared (ApplicationIdPtr); the objects it hands out are shared and outlive it.
// Thread: all members may be called from any thread (loading is guarded by m_loadLock).
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "Agent/Client.h"
#include "Agent/ClientProperties.h"
#include "Agent/FileSystemBackupSet.h"
#include "Agent/Subclient.h"
#include "Agent/SubclientConf.h"
#include "Base/KxError.h"

class ApplicationId {
public:
    explicit ApplicationId(std::string text);
    ApplicationId(uint64_t orbundId, uint64_t appNumber);

    // Splits "<orbundId>:<appNumber>" (decimal, no blanks, both parts required).
    [[nodiscard]] static CKxError Parse(const std::string& text, uint64_t& orbundId, uint64_t& appNumber);

    // Loads and validates the configuration file (once; later calls return the first result).
    [[nodiscard]] CKxError getApplicationId();

    [[nodiscard]] CKxError getAppId(uint64_t& appNumber);
    [[nodiscard]] CKxError getOrbundId(uint64_t& orbundId);
    [[nodiscard]] CKxError getAppType(unsigned long& appType);
    // "indexV2" of the configuration (false when absent).
    [[nodiscard]] CKxError getIndexV2(bool& useV2);

    std::shared_ptr<Subclient> getSubclient();
    std::shared_ptr<SubclientConf> getSubclientConf();
    std::shared_ptr<Client> getClient();
    std::shared_ptr<ClientProperties> getClientProperties();
    std::shared_ptr<FileSystemBackupSet> getBackupSet();

    // The failure of the last call that failed (success when none failed).
    CKxError getLastError() const;
    long getLastErrorCode() const { return getLastError().Code(); }

    const std::string& getText() const { return m_text; }
    // config/apps/<text>.json under the focused instance ("" without a focus).
    std::string getConfigPath() const;

private:
    struct Loaded;
    CKxError EnsureLoaded();
    void Remember(const CKxError& error) const;

    std::string m_text;
    mutable std::mutex m_loadLock;  // guards m_loaded, m_loadResult, m_lastError
    bool m_attempted = false;
    CKxError m_loadResult;
    std::shared_ptr<const Loaded> m_loaded;
    mutable CKxError m_lastError;
};

using ApplicationIdPtr = std::shared_ptr<ApplicationId>;
