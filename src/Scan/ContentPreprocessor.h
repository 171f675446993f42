#pragma once
// CContentPreprocessor: the last translation of a content, filter or denylist entry before it
// enters a list. Legacy entries may stand for several real entries; monikers ("%Name%" or
// "/%Name%") name places the agent would look up. This agent has no moniker service, so a
// moniker is logged and kept as it is; ExpandMoniker is the hook a service would fill.
//
// The cache-database moniker "%CacheDB%" (any case, optionally after a "/") marks content
// that is the cache database itself; the content code stops reading further content when it
// meets it. The migration-assistant entry "%MigrationAssistant%" (any case, optionally after
// a "/") is never a path; the content code only records that it was named.
//
// Ownership: shared by the subclient content and its platform part. Thread: any thread (no
// state).
#include "Base/KxError.h"

#include <memory>
#include <string>
#include <vector>

class CContentPreprocessor {
public:
    CContentPreprocessor() = default;
    virtual ~CContentPreprocessor() = default;

    // Replaces `out` with the entries `entry` stands for: the entry itself, or a moniker's
    // expansion. An empty entry yields nothing.
    [[nodiscard]] virtual CKxError TranslateLegacyContent(const std::string& entry, std::vector<std::string>& out);

    // True for "%Name%" and "/%Name%" with a non-empty name.
    static bool IsMoniker(const std::string& entry);
    static bool IsCacheDBMoniker(const std::string& entry);
    static bool IsMigrationAssistantEntry(const std::string& entry);

protected:
    // Fills `paths` with the places `moniker` stands for; false when it cannot be expanded
    // (then the moniker is kept as it is).
    virtual bool ExpandMoniker(const std::string& moniker, std::vector<std::string>& paths);
};

using CContentPreprocessorPtr = std::shared_ptr<CContentPreprocessor>;
