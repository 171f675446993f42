#include "Scan/ContentPreprocessor.h"

#include "Base/LogWriter.h"

#include <strings.h>

namespace {

// The moniker's text without a leading "/", or "" when `entry` is not a moniker.
std::string MonikerText(const std::string& entry)
{
    const size_t start = !entry.empty() && entry.front() == '/' ? 1 : 0;
    if (entry.size() < start + 3 || entry[start] != '%' || entry.back() != '%')
        return std::string();
    return entry.substr(start);
}

bool IsNamedMoniker(const std::string& entry, const char* name)
{
    const std::string text = MonikerText(entry);
    return !text.empty() && ::strcasecmp(text.c_str(), name) == 0;
}

}  // namespace

bool CContentPreprocessor::IsMoniker(const std::string& entry) { return !MonikerText(entry).empty(); }

bool CContentPreprocessor::IsCacheDBMoniker(const std::string& entry) { return IsNamedMoniker(entry, "%CacheDB%"); }

bool CContentPreprocessor::IsMigrationAssistantEntry(const std::string& entry)
{
    return IsNamedMoniker(entry, "%MigrationAssistant%");
}

bool CContentPreprocessor::ExpandMoniker(const std::string& moniker, std::vector<std::string>& paths)
{
    (void)moniker;
    paths.clear();
    return false;
}

CKxError CContentPreprocessor::TranslateLegacyContent(const std::string& entry, std::vector<std::string>& out)
{
    out.clear();
    if (entry.empty())
        return CKxError::Success();
    if (!IsMoniker(entry)) {
        out.push_back(entry);
        return CKxError::Success();
    }
    FSLOG(0, "Detected moniker path [%s]", entry.c_str());
    std::vector<std::string> paths;
    if (ExpandMoniker(entry, paths) && !paths.empty()) {
        for (const std::string& path : paths) {
            FSLOG(0, "Expanded path [%s]", path.c_str());
            out.push_back(path);
        }
        return CKxError::Success();
    }
    // Without a moniker service the entry stays; the list it enters decides whether it can
    // match anything.
    FSLOG(0, "No moniker service to expand [%s], keeping it as it is", entry.c_str());
    out.push_back(entry);
    return CKxError::Success();
}
