#include "Engine/FilterTerm.h"

namespace {
std::string_view TrimTrailingDelimiters(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}
}  // namespace

bool CFilterTerm::IsWildcardItem(std::string_view entry)
{
    return entry.find_first_of("*?[") != std::string_view::npos;
}

CKxError CFilterTerm::LoadRaw(std::string_view entry, bool caseInsensitive)
{
    m_entry.assign(entry);
    m_folderOnly = entry.size() > 1 && entry.back() == '/';
    std::string_view pattern = TrimTrailingDelimiters(entry);
    if (pattern.empty())
        return CKxError(KxCode::InvalidParameter, "Empty filter entry");
    m_nameOnly = pattern.find('/') == std::string_view::npos;
    m_match = TPathMatch('/', '\\', caseInsensitive);
    CKxError e = m_match.Init(pattern);
    if (e.IsError())
        return std::move(e.Push("Cannot load filter entry [" + m_entry + "]"));
    return CKxError::Success();
}

bool CFilterTerm::Matches(std::string_view path, bool isFolder) const
{
    if (m_folderOnly && !isFolder)
        return false;
    path = TrimTrailingDelimiters(path);
    if (m_nameOnly) {
        size_t slash = path.rfind('/');
        if (slash != std::string_view::npos)
            path.remove_prefix(slash + 1);
    }
    return m_match.Match(path);
}

bool CFilterTerm::CouldMatchBelow(std::string_view folder) const
{
    if (!m_match.IsValid())
        return false;
    if (m_nameOnly)
        return true;
    return m_match.CouldMatchBelow(TrimTrailingDelimiters(folder));
}

std::string CFilterTerm::GetFilterPrefix() const
{
    if (m_nameOnly || !m_match.IsValid())
        return std::string();
    return m_match.GetFixedPrefix();
}
