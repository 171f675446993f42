#pragma once
// CFilterSet: filters (exclusions) and filter exceptions (re-inclusions) decided together.
//
// The nearest decision wins: a path is excluded when it, or one of its folders, matches a
// filter, and no exception matches at that level or deeper. So an exception re-includes
// inside an excluded area ("/data/tmp/" excluded, "/data/tmp/keep/" back in), and a filter
// inside a re-included area excludes again. At the same level an exception beats a filter.
//
// The walk uses Decide per item (the folder's inherited state comes from the walk itself)
// and ExceptionCouldMatchBelow to know whether an excluded folder must still be entered.
// Contains answers the whole question for one path, for callers outside a walk.
//
// Thread: terms are added before use; the decisions are const and safe from every thread.
#include "Engine/FilterTerm.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CFilterSet {
public:
    enum class EDecision { None, Filtered, Excepted };

    CFilterSet() = default;

    [[nodiscard]] CKxError AddFilterItem(std::string_view entry, bool caseInsensitive = false);
    [[nodiscard]] CKxError AddFilterExceptionItem(std::string_view entry, bool caseInsensitive = false);
    void AddFilterTerm(CFilterTerm term) { m_filters.push_back(std::move(term)); }
    void AddExceptionTerm(CFilterTerm term) { m_exceptions.push_back(std::move(term)); }

    bool IsEmpty() const { return m_filters.empty() && m_exceptions.empty(); }
    bool HasFilters() const { return !m_filters.empty(); }
    bool HasExceptions() const { return !m_exceptions.empty(); }
    const std::vector<CFilterTerm>& GetFilters() const { return m_filters; }
    const std::vector<CFilterTerm>& GetExceptions() const { return m_exceptions; }

    // This path alone: Excepted when an exception matches, else Filtered when a filter does.
    EDecision Decide(std::string_view path, bool isFolder) const;
    bool FilterMatches(std::string_view path, bool isFolder) const;
    bool ExceptionMatches(std::string_view path, bool isFolder) const;
    bool FilterCouldMatchBelow(std::string_view folder) const;
    bool ExceptionCouldMatchBelow(std::string_view folder) const;
    // The whole decision for an absolute path, its folders included.
    bool Contains(std::string_view path, bool isFolder = false) const { return Explain(path, isFolder).excluded; }

    // Contains with the terms that decided it: `filter` the last filter that matched the path or
    // one of its folders, `exception` the exception that matched at that level or below it
    // (which re-included the path when `excluded` is false). Null when none did.
    struct SExplanation {
        bool excluded = false;
        const CFilterTerm* filter = nullptr;
        const CFilterTerm* exception = nullptr;
    };
    SExplanation Explain(std::string_view path, bool isFolder = false) const;

private:
    std::vector<CFilterTerm> m_filters;
    std::vector<CFilterTerm> m_exceptions;
};

using CFilterSetPtr = std::shared_ptr<CFilterSet>;
