#include "CollectFile/DirChangePathOrder.h"

#include <algorithm>
#include <cstring>

namespace DirChangePathOrder {

int Compare(std::string_view a, std::string_view b) noexcept
{
    const size_t common = std::min(a.size(), b.size());
    // memcmp finds the first difference fast; only that byte needs the '/' ranking.
    const int raw = common == 0 ? 0 : std::memcmp(a.data(), b.data(), common);
    if (raw == 0)
        return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
    size_t i = 0;
    while (a[i] == b[i])
        ++i;
    const unsigned ca = static_cast<unsigned char>(a[i]);
    const unsigned cb = static_cast<unsigned char>(b[i]);
    if (ca == '/')
        return -1;
    if (cb == '/')
        return 1;
    return ca < cb ? -1 : 1;
}

bool IsSameOrBelow(std::string_view folder, std::string_view path) noexcept
{
    if (folder.empty())
        return true;
    if (path.size() < folder.size() || path.compare(0, folder.size(), folder) != 0)
        return false;
    if (path.size() == folder.size() || folder.back() == '/')
        return true;
    return path[folder.size()] == '/';
}

std::string_view TrimTrailingSlashes(std::string_view path) noexcept
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

void Split(std::string_view path, std::string_view& folder, std::string_view& name) noexcept
{
    if (path == "/") {
        folder = {};
        name = {};
        return;
    }
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) {
        folder = {};
        name = path;
    } else {
        folder = path.substr(0, slash == 0 ? 1 : slash);
        name = path.substr(slash + 1);
    }
}

void AppendJoined(std::string_view folder, std::string_view name, std::string& out)
{
    if (folder.empty()) {
        if (name.empty())
            out.push_back('/');
        else
            out.append(name);
        return;
    }
    out.append(folder);
    if (folder.back() != '/')
        out.push_back('/');
    out.append(name);
}

}  // namespace DirChangePathOrder
