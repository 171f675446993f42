#include "Base/DirChangePathOrder.h"

#include "Base/HotPath.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace DirChangePathOrder {

static_assert(std::endian::native == std::endian::little, "Compare finds the first differing byte of a word");

int Compare(std::string_view a, std::string_view b) noexcept
{
    // The first difference, eight bytes at a time: folder paths share long prefixes, and only
    // the differing byte needs the '/' ranking.
    const size_t common = std::min(a.size(), b.size());
    size_t i = 0;
    for (; i + 8 <= common; i += 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (x != y) {
            i += static_cast<size_t>(std::countr_zero(x ^ y)) / 8;  // little-endian: first byte lowest
            break;
        }
    }
    while (i < common && a[i] == b[i])
        ++i;
    if (i == common)
        return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
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

KX_HOT_PATH std::string_view TrimTrailingSlashes(std::string_view path) noexcept
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

KX_HOT_PATH void Split(std::string_view path, std::string_view& folder, std::string_view& name) noexcept
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
