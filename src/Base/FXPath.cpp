#include "Base/FXPath.h"

std::string FXPath::Append(std::string_view folder, std::string_view name)
{
    if (folder.empty())
        return std::string(name);
    if (name.empty())
        return std::string(folder);
    std::string out(folder);
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    size_t skip = 0;
    while (skip < name.size() && name[skip] == '/')
        ++skip;
    if (out.back() != '/')
        out += '/';
    out.append(name.substr(skip));
    return out;
}

std::string FXPath::TrimTrailingSlashes(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return std::string(path);
}

std::string FXPath::Parent(std::string_view path)
{
    std::string trimmed = TrimTrailingSlashes(path);
    size_t slash = trimmed.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    if (slash == 0)
        return trimmed.size() > 1 ? "/" : std::string();
    return trimmed.substr(0, slash);
}

std::string FXPath::FileName(std::string_view path)
{
    std::string trimmed = TrimTrailingSlashes(path);
    if (trimmed == "/")
        return std::string();
    size_t slash = trimmed.rfind('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

bool FXPath::IsUnder(std::string_view path, std::string_view folder)
{
    std::string f = TrimTrailingSlashes(folder);
    std::string p = TrimTrailingSlashes(path);
    if (f == "/")
        return !p.empty() && p[0] == '/';
    if (p.size() < f.size() || p.compare(0, f.size(), f) != 0)
        return false;
    return p.size() == f.size() || p[f.size()] == '/';
}
