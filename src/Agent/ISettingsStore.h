#pragma once
// ISettingsStore: the agent's settings, by section and key, as text.
//
// ZVPlatformInfo reads and writes through the installed store; the file-backed one
// (CFileSettingsStore) serves the process, the in-memory one (CMemorySettingsStore) serves
// tests. Implementations must be thread-safe: worker threads may read while the main thread
// writes.
#include <memory>
#include <string>

#include "Base/KxError.h"

class ISettingsStore {
public:
    virtual ~ISettingsStore() = default;
    // True when the key is present; `value` gets its text and `where` a description of its
    // origin for log lines ("<file>:<line>" or "memory"). Absent keys leave both untouched.
    virtual bool Get(const std::string& section, const std::string& key, std::string& value,
                     std::string& where) const = 0;
    // Creates or replaces the key. Other keys of the section are kept.
    [[nodiscard]] virtual CKxError Set(const std::string& section, const std::string& key,
                                       const std::string& value) = 0;
};

using ISettingsStorePtr = std::shared_ptr<ISettingsStore>;
