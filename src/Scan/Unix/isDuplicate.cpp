#include "Scan/Unix/isDuplicate.h"

#include <algorithm>

std::string isDuplicate::Normalize(const std::string& path)
{
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        if (c == '/' && !out.empty() && out.back() == '/')
            continue;
        out.push_back(c);
    }
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return out;
}

bool isDuplicate::IsSamePathAs(const std::string& a, const std::string& b) { return Normalize(a) == Normalize(b); }

isDuplicate::isDuplicate(const std::vector<std::string>& paths)
{
    m_paths.reserve(paths.size());
    for (const std::string& path : paths)
        m_paths.push_back(Normalize(path));
}

bool isDuplicate::operator()(const std::string& path) const
{
    const std::string normalised = Normalize(path);
    return std::find(m_paths.begin(), m_paths.end(), normalised) != m_paths.end();
}
