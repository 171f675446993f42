#include "Scan/ScanContentConfiguration.h"

#include "Base/FXPath.h"
#include "Base/LogWriter.h"
#include "Engine/FilterTerm.h"
#include "Engine/WorkUnitManager.h"

#include <set>

namespace {

constexpr const char* kListNames[CScanContentConfiguration::ListCount] = {
    "ScanContent",    "ScanContentExceptions",          "NewContent",    "Filters",
    "FilterExceptions", "SpecialContentFilters", "SpecialContentFilterExceptions", "SystemFilters",
    "SystemFiltersExceptions", "BlackListContent", "NameContent"};

// Appends the entries not seen before, in order.
void AppendOnce(std::vector<std::string>& to, std::set<std::string>& seen, const std::string& entry)
{
    if (seen.insert(entry).second)
        to.push_back(entry);
}

void AppendPatterns(std::vector<std::string>& to, const std::vector<std::string>& from)
{
    std::set<std::string> seen(to.begin(), to.end());
    for (const std::string& entry : from)
        AppendOnce(to, seen, CScanContentConfiguration::ToEnginePattern(entry));
}

// The part of a file-name content entry that is matched below each content path: "*.doc" for
// "/**/*.doc", "core" for "core"; "" for an absolute entry that names its own place.
std::string NamePart(const std::string& entry)
{
    static const std::string kAnyDepth = "/**/";
    if (entry.compare(0, kAnyDepth.size(), kAnyDepth) == 0)
        return entry.substr(kAnyDepth.size());
    if (!entry.empty() && entry.front() != '/')
        return entry;
    return std::string();
}

}  // namespace

const char* CScanContentConfiguration::ListName(EList list)
{
    return list >= 0 && list < ListCount ? kListNames[list] : "";
}

void CScanContentConfiguration::Clear()
{
    for (auto& list : m_lists)
        list.clear();
    m_migrationAssistantContent = false;
}

void CScanContentConfiguration::Dump() const
{
    for (int list = 0; list < ListCount; ++list) {
        FSLOG(0, "%s: %zu entries", kListNames[list], m_lists[list].size());
        for (const std::string& entry : m_lists[list])
            FSLOG(0, "  %s: [%s]", kListNames[list], entry.c_str());
    }
    FSLOG(0, "MigrationAssistantContent: %d", m_migrationAssistantContent ? 1 : 0);
}

std::string CScanContentConfiguration::ToEnginePattern(const std::string& entry)
{
    if (CFilterTerm::IsWildcardItem(entry) || entry.find('\\') == std::string::npos)
        return entry;
    std::string out;
    out.reserve(entry.size() + 4);
    for (char c : entry) {
        if (c == '\\')
            out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

CScanContentConfiguration::SWorkUnitLists CScanContentConfiguration::GetWorkUnitLists() const
{
    SWorkUnitLists lists;

    std::vector<std::string> content;
    {
        std::set<std::string> seen;
        for (EList list : {ScanContent, NewContent})
            for (const std::string& entry : m_lists[list])
                AppendOnce(content, seen, entry);
    }
    const std::vector<std::string>& names = m_lists[NameContent];
    if (names.empty()) {
        // Plain content paths go as they are: the engine takes them literally.
        lists.content = std::move(content);
    } else {
        std::set<std::string> seen;
        for (const std::string& name : names) {
            const std::string part = NamePart(name);
            if (part.empty()) {
                AppendOnce(lists.content, seen, name);
                continue;
            }
            for (const std::string& path : content) {
                // The combination is a pattern, so a plain path's backslashes become literal.
                const std::string base = ToEnginePattern(path);
                AppendOnce(lists.content, seen, FXPath::Append(base, "**/" + part));
            }
        }
    }

    AppendPatterns(lists.contentExceptions, m_lists[ScanContentExceptions]);
    AppendPatterns(lists.filters, m_lists[Filters]);
    AppendPatterns(lists.filters, m_lists[SpecialContentFilters]);
    AppendPatterns(lists.filterExceptions, m_lists[FilterExceptions]);
    AppendPatterns(lists.filterExceptions, m_lists[SpecialContentFilterExceptions]);
    AppendPatterns(lists.systemFilters, m_lists[SystemFilters]);
    AppendPatterns(lists.systemFilterExceptions, m_lists[SystemFiltersExceptions]);
    return lists;
}

CKxError CScanContentConfiguration::FinalizeWorkUnits(CWorkUnitManager& manager) const
{
    const SWorkUnitLists lists = GetWorkUnitLists();
    KX_RETURN_IF_FAILED(manager.FinalizeWorkUnits(lists.content, lists.contentExceptions, lists.filters,
                                                  lists.filterExceptions, lists.systemFilters,
                                                  lists.systemFilterExceptions),
                        "FinalizeWorkUnits failed");
    return CKxError::Success();
}

CKxError CScanContentConfiguration::BuildFilterSetsFromPathLists(SFilterSets& sets, bool wildcardCaseInsensitive) const
{
    const SWorkUnitLists lists = GetWorkUnitLists();
    sets = SFilterSets();
    auto insensitive = [wildcardCaseInsensitive](const std::string& entry) {
        return wildcardCaseInsensitive && CFilterTerm::IsWildcardItem(entry);
    };
    for (const std::string& entry : lists.contentExceptions)
        KX_RETURN_IF_FAILED(sets.contentExceptions.AddFilterItem(entry, insensitive(entry)),
                            "Invalid content exception [%s]", entry.c_str());
    for (const std::string& entry : lists.filters)
        KX_RETURN_IF_FAILED(sets.filters.AddFilterItem(entry, insensitive(entry)), "Invalid filter [%s]", entry.c_str());
    for (const std::string& entry : lists.filterExceptions)
        KX_RETURN_IF_FAILED(sets.filters.AddFilterExceptionItem(entry, insensitive(entry)),
                            "Invalid filter exception [%s]", entry.c_str());
    for (const std::string& entry : lists.systemFilters)
        KX_RETURN_IF_FAILED(sets.systemFilters.AddFilterItem(entry, insensitive(entry)), "Invalid system filter [%s]",
                            entry.c_str());
    for (const std::string& entry : lists.systemFilterExceptions)
        KX_RETURN_IF_FAILED(sets.systemFilters.AddFilterExceptionItem(entry, insensitive(entry)),
                            "Invalid system filter exception [%s]", entry.c_str());
    return CKxError::Success();
}
