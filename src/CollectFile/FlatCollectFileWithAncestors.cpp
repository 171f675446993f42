#include "CollectFile/FlatCollectFileWithAncestors.h"

#include <vector>

CFlatCollectFileWithAncestors::~CFlatCollectFileWithAncestors() = default;

CKxError CFlatCollectFileWithAncestors::Process(const CItemPtr& item)
{
    return AddToAncestorList(item->GetSourceFullyQualifiedItemName());
}

std::uint64_t CFlatCollectFileWithAncestors::GetAncestorCount() const
{
    std::lock_guard lock(m_ancestorsLock);
    return m_written.size();
}

CKxError CFlatCollectFileWithAncestors::AddToAncestorList(std::string_view sourcePath)
{
    while (sourcePath.size() > 1 && sourcePath.back() == '/')
        sourcePath.remove_suffix(1);
    std::lock_guard lock(m_ancestorsLock);
    // Walk up until a folder already written: everything above it is written too. The items
    // of one folder arrive together, so this usually stops at the first step.
    thread_local std::vector<std::string_view> missing;
    missing.clear();
    std::string_view path = sourcePath;
    thread_local std::string key;
    while (true) {
        const size_t slash = path.rfind('/');
        if (slash == std::string_view::npos || path == "/")
            break;
        path = slash == 0 ? std::string_view("/") : path.substr(0, slash);
        key.assign(path);
        if (m_written.contains(key))
            break;
        missing.push_back(path);
    }
    thread_local std::string line;
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        line.clear();
        FormatItemLine(*it, true, 0, line);
        KX_RETURN_IF_FAILED(AppendLine(line, true, 0), "Failed to add to ancestor list");
        m_written.emplace(*it);
    }
    return CKxError::Success();
}
