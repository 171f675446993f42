#include "Scan/Error_Tab.h"

#include "Base/LogWriter.h"

namespace {
constexpr int kBackslashForm = 2;
}

std::string Error_Tab::ConvertPattern(const std::string& pattern, int pathType)
{
    const bool backslash = pathType == kBackslashForm;
    const char delimiter = backslash ? '\\' : '/';
    if (pattern.find(delimiter) != std::string::npos || pattern.find_first_of("*?]") == std::string::npos)
        return pattern;
    std::string converted = (backslash ? "*\\**\\" : "/**/") + pattern;
    FSLOG(3, "Converting Pattern %s to %s", pattern.c_str(), converted.c_str());
    return converted;
}

Error_Tab::Error_Tab(const std::string& pattern, int decision, std::vector<Error_Range> ranges, int pathType)
    : m_matcher(pathType == kBackslashForm ? '\\' : '/', pathType == kBackslashForm ? '/' : '\\',
                pathType == kBackslashForm),
      m_ranges(std::move(ranges)),
      m_decision(decision)
{
    if (m_matcher.Init(ConvertPattern(pattern, pathType)).IsError())
        FSLOG_ERROR("Pattern init failed, will use default decision SKIP for %s", pattern.c_str());
}

int Error_Tab::match(std::string_view path, long code, std::string& patternOut) const
{
    patternOut.clear();
    if (!is_valid() || !m_matcher.Match(path))
        return -1;
    for (const Error_Range& range : m_ranges) {
        if (!range.Contains(code))
            continue;
        FSLOG(5, "File name %.*s and error code %ld match error tab entry, pattern=%s, allErrors=%d, fromValue=%ld, "
                 "toValue=%ld",
              static_cast<int>(path.size()), path.data(), code, GetPattern().c_str(), range.allErrors ? 1 : 0,
              static_cast<long>(range.from), static_cast<long>(range.to));
        patternOut = GetPattern();
        return m_decision;
    }
    return -1;
}
