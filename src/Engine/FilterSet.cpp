#include "Engine/FilterSet.h"

CKxError CFilterSet::AddFilterItem(std::string_view entry, bool caseInsensitive)
{
    CFilterTerm term;
    KX_RETURN_IF_ERROR(term.LoadRaw(entry, caseInsensitive));
    m_filters.push_back(std::move(term));
    return CKxError::Success();
}

CKxError CFilterSet::AddFilterExceptionItem(std::string_view entry, bool caseInsensitive)
{
    CFilterTerm term;
    KX_RETURN_IF_ERROR(term.LoadRaw(entry, caseInsensitive));
    m_exceptions.push_back(std::move(term));
    return CKxError::Success();
}

bool CFilterSet::FilterMatches(std::string_view path, bool isFolder) const
{
    for (const CFilterTerm& term : m_filters)
        if (term.Matches(path, isFolder))
            return true;
    return false;
}

bool CFilterSet::ExceptionMatches(std::string_view path, bool isFolder) const
{
    for (const CFilterTerm& term : m_exceptions)
        if (term.Matches(path, isFolder))
            return true;
    return false;
}

CFilterSet::EDecision CFilterSet::Decide(std::string_view path, bool isFolder) const
{
    if (ExceptionMatches(path, isFolder))
        return EDecision::Excepted;
    if (FilterMatches(path, isFolder))
        return EDecision::Filtered;
    return EDecision::None;
}

bool CFilterSet::FilterCouldMatchBelow(std::string_view folder) const
{
    for (const CFilterTerm& term : m_filters)
        if (term.CouldMatchBelow(folder))
            return true;
    return false;
}

bool CFilterSet::ExceptionCouldMatchBelow(std::string_view folder) const
{
    for (const CFilterTerm& term : m_exceptions)
        if (term.CouldMatchBelow(folder))
            return true;
    return false;
}

CFilterSet::SExplanation CFilterSet::Explain(std::string_view path, bool isFolder) const
{
    SExplanation result;
    if (m_filters.empty())
        return result;
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    // Walk down the path as the scan would: each folder's decision overrides the one above.
    auto apply = [&](std::string_view prefix, bool folder) {
        for (const CFilterTerm& term : m_exceptions)
            if (term.Matches(prefix, folder)) {
                result.excluded = false;
                result.exception = &term;
                return;
            }
        for (const CFilterTerm& term : m_filters)
            if (term.Matches(prefix, folder)) {
                result.excluded = true;
                result.filter = &term;
                result.exception = nullptr;
                return;
            }
    };
    if (!path.empty() && path.front() == '/' && path.size() > 1)
        apply("/", true);
    for (size_t i = 1; i < path.size(); ++i)
        if (path[i] == '/')
            apply(path.substr(0, i), true);
    apply(path, isFolder);
    return result;
}
