#pragma once
// Error_Tab: one administrator's error rule: a path pattern, the error ranges it applies to,
// the job decision it carries and whether its failures stay out of the failure count.
//
// The pattern is compiled with the filters' wildcard dialect (TPathMatch, docs/filters.md). A
// pattern that names no folder ("*.lock") is taken to mean such items anywhere: in the slash
// form it gets the prefix "/**/", in the backslash form "*\**\". A pattern that does not
// compile leaves the rule invalid; ZvErrorControl does not load invalid rules.
//
// Thread: built once; match is const and safe from every thread.
#include "Engine/PathMatch.h"
#include "Scan/Error_Range.h"

#include <string>
#include <string_view>
#include <vector>

class Error_Tab {
public:
    // pathType 2 is the backslash form (case-insensitive), every other value the slash form.
    Error_Tab(const std::string& pattern, int decision, std::vector<Error_Range> ranges, int pathType);

    // The pattern as written after conversion (prefix added where it names no folder).
    static std::string ConvertPattern(const std::string& pattern, int pathType);

    // The rule's decision when the path matches and one of the ranges holds the code (the first
    // such range decides); -1 otherwise. patternOut gets the pattern on a match, "" otherwise.
    int match(std::string_view path, long code, std::string& patternOut) const;

    bool is_valid() const { return m_matcher.IsValid(); }
    int GetDecision() const { return m_decision; }
    const std::string& GetPattern() const { return m_matcher.GetPattern(); }
    const std::vector<Error_Range>& GetRanges() const { return m_ranges; }
    void SetSkipFromReporting(bool skip) { m_skipFromReporting = skip; }
    bool IsSkipFromReporting() const { return m_skipFromReporting; }

private:
    TPathMatch m_matcher;
    std::vector<Error_Range> m_ranges;
    int m_decision;
    bool m_skipFromReporting = false;
};
