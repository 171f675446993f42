#include "Scan/Unix/isNestedMount.h"

#include "Base/FXPath.h"
#include "Base/LogWriter.h"
#include "Scan/Unix/isDuplicate.h"

bool isNestedMount::IsAncestorOf(const std::string& ancestor, const std::string& path, bool strict)
{
    const std::string a = isDuplicate::Normalize(ancestor);
    const std::string p = isDuplicate::Normalize(path);
    if (a.empty() || p.empty())
        return false;
    if (strict && a == p)
        return false;
    return FXPath::IsUnder(p, a);
}

bool isNestedMount::operator()(const std::string& candidate) const
{
    const bool nested = IsAncestorOf(candidate, m_held, false);
    FSLOG(4, "%s vs %s = %d", candidate.c_str(), m_held.c_str(), nested ? 1 : 0);
    return nested;
}
