#pragma once
// CScanContentConfiguration: what a subclient backs up, as lists of entries in the form the
// scan engine matches, in a fixed order (the order of the log dump): ScanContent,
// ScanContentExceptions, NewContent, Filters, FilterExceptions, SpecialContentFilters,
// SpecialContentFilterExceptions, SystemFilters, SystemFiltersExceptions, BlackListContent,
// then NameContent (file-name content, kept apart because it narrows the content instead of
// adding to it; docs/content.md).
//
// The subclient content fills the lists once; afterwards the file-system job hands them to the
// engine: GetWorkUnitLists gives the six lists CWorkUnitManager::FinalizeWorkUnits takes, and
// BuildFilterSetsFromPathLists the compiled filter sets for decisions outside a walk.
//
// Ownership: owned by the subclient content (shared so that the job may keep it after the
// content object is gone). Thread: filled on the job's thread; const members may be called
// from any thread once filling is over.
#include "Base/KxError.h"
#include "Engine/FilterSet.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

class CWorkUnitManager;

class CScanContentConfiguration {
public:
    enum EList {
        ScanContent = 0,
        ScanContentExceptions,
        NewContent,
        Filters,
        FilterExceptions,
        SpecialContentFilters,
        SpecialContentFilterExceptions,
        SystemFilters,
        SystemFiltersExceptions,
        BlackListContent,
        NameContent,
        ListCount
    };

    // The six lists of FinalizeWorkUnits, in its argument order.
    struct SWorkUnitLists {
        std::vector<std::string> content;
        std::vector<std::string> contentExceptions;
        std::vector<std::string> filters;
        std::vector<std::string> filterExceptions;
        std::vector<std::string> systemFilters;
        std::vector<std::string> systemFilterExceptions;
    };

    // The engine's filter sets: content exceptions (filters only), client filters with their
    // exceptions (special content filters included), system filters with their exceptions.
    struct SFilterSets {
        CFilterSet contentExceptions;
        CFilterSet filters;
        CFilterSet systemFilters;
    };

    CScanContentConfiguration() = default;

    // The list's name in the log dump ("ScanContent", ...); "" for an out-of-range value.
    static const char* ListName(EList list);

    std::vector<std::string>& List(EList list) { return m_lists.at(list); }
    const std::vector<std::string>& List(EList list) const { return m_lists.at(list); }
    void Add(EList list, const std::string& entry) { m_lists.at(list).push_back(entry); }
    void Clear();

    const std::vector<std::string>& GetScanContent() const { return List(ScanContent); }
    const std::vector<std::string>& GetScanContentExceptions() const { return List(ScanContentExceptions); }
    const std::vector<std::string>& GetNewContent() const { return List(NewContent); }
    const std::vector<std::string>& GetFilters() const { return List(Filters); }
    const std::vector<std::string>& GetFilterExceptions() const { return List(FilterExceptions); }
    const std::vector<std::string>& GetSystemFilters() const { return List(SystemFilters); }
    const std::vector<std::string>& GetSystemFiltersExceptions() const { return List(SystemFiltersExceptions); }
    const std::vector<std::string>& GetBlackListContent() const { return List(BlackListContent); }
    const std::vector<std::string>& GetNameContent() const { return List(NameContent); }

    // The migration-assistant content was named in the content or the filters.
    bool IncludesMigrationAssistantContent() const { return m_migrationAssistantContent; }
    void SetIncludesMigrationAssistantContent(bool on) { m_migrationAssistantContent = on; }

    // Logs every list at level 0, one line per entry, under its name.
    void Dump() const;

    // The engine's lists. Content is ScanContent then NewContent; with file-name content each
    // content path is narrowed to those names ("<path>/**/<name>"), and a file-name content
    // entry that is itself an absolute path other than "/**/..." is content of its own.
    // Client filters include the special content filters. An entry without wildcard
    // characters is a literal path, so its backslashes are escaped for the engine's pattern
    // dialect. Duplicate entries are handed on once.
    SWorkUnitLists GetWorkUnitLists() const;
    // FinalizeWorkUnits on `manager` with GetWorkUnitLists.
    [[nodiscard]] CKxError FinalizeWorkUnits(CWorkUnitManager& manager) const;
    // Compiles the exception and filter lists as GetWorkUnitLists hands them on; wildcard
    // entries match case-insensitively when `wildcardCaseInsensitive`. The first malformed
    // entry fails with 87 and its text.
    [[nodiscard]] CKxError BuildFilterSetsFromPathLists(SFilterSets& sets, bool wildcardCaseInsensitive = false) const;

    // An entry as the engine must see it: entries with wildcard characters unchanged, plain
    // entries with every backslash doubled.
    static std::string ToEnginePattern(const std::string& entry);

private:
    std::array<std::vector<std::string>, ListCount> m_lists;
    bool m_migrationAssistantContent = false;
};

using CScanContentConfigurationPtr = std::shared_ptr<CScanContentConfiguration>;
