#pragma once
// CMemorySettingsStore: settings held in memory, for tests (install it with
// ZVPlatformInfo::Install). Set can be made to fail to reach write-failure paths.
//
// Thread: all members may be called from any thread (guarded by m_valuesLock).
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "Agent/ISettingsStore.h"

class CMemorySettingsStore : public ISettingsStore {
public:
    bool Get(const std::string& section, const std::string& key, std::string& value,
             std::string& where) const override;
    [[nodiscard]] CKxError Set(const std::string& section, const std::string& key,
                               const std::string& value) override;

    // Set without going through the failure switch (test set-up).
    void Put(const std::string& section, const std::string& key, const std::string& value);
    void Erase(const std::string& section, const std::string& key);
    // While `code` is non-zero every Set fails with that code and changes nothing.
    void FailWrites(long code);

private:
    mutable std::mutex m_valuesLock;
    std::map<std::pair<std::string, std::string>, std::string> m_values;
    long m_failCode = 0;
};
