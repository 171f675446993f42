#include "Base/FileNameEscaping.h"

#include "Base/HotPath.h"

#include <array>
#include <cstdint>

namespace {
// 1 for the bytes escapeFileName rewrites.
constexpr std::array<std::uint8_t, 256> MakeEscapeTable()
{
    std::array<std::uint8_t, 256> table{};
    for (int b = 0; b < 0x20; ++b)
        table[b] = 1;
    table[0x7F] = 1;
    table['|'] = 1;
    table['\\'] = 1;
    return table;
}
constexpr std::array<std::uint8_t, 256> kNeedsEscape = MakeEscapeTable();
constexpr char kHexDigits[] = "0123456789abcdef";

inline bool NeedsEscape(char c) { return kNeedsEscape[static_cast<unsigned char>(c)] != 0; }

inline int LowerHexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}
}  // namespace

KX_HOT_PATH bool isEscapeFree(std::string_view path)
{
    for (char c : path)
        if (NeedsEscape(c))
            return false;
    return true;
}

KX_HOT_PATH void escapeFileNameAppend(std::string_view path, std::string& out)
{
    const char* p = path.data();
    const char* end = p + path.size();
    while (p < end) {
        const char* run = p;
        while (p < end && !NeedsEscape(*p))
            ++p;
        out.append(run, static_cast<size_t>(p - run));
        if (p == end)
            break;
        const unsigned char c = static_cast<unsigned char>(*p++);
        if (c == '\\') {
            out.append("\\\\", 2);
        } else {
            const char code[4] = {'\\', 'x', kHexDigits[c >> 4], kHexDigits[c & 0xF]};
            out.append(code, 4);
        }
    }
}

std::string escapeFileName(std::string_view path)
{
    std::string out;
    out.reserve(path.size() + 8);
    escapeFileNameAppend(path, out);
    return out;
}

CKxError unescapeFileName(std::string_view escaped, std::string& out)
{
    out.clear();
    out.reserve(escaped.size());
    const char* begin = escaped.data();
    const char* p = begin;
    const char* end = p + escaped.size();
    auto malformed = [&](const char* at, const char* why) {
        return CKxError(KxCode::InvalidData,
                        KxFormat("Malformed escaped file name at offset %zu: %s", static_cast<size_t>(at - begin), why));
    };
    while (p < end) {
        const char* run = p;
        while (p < end && !NeedsEscape(*p))
            ++p;
        out.append(run, static_cast<size_t>(p - run));
        if (p == end)
            break;
        if (*p != '\\')
            return malformed(p, "unescaped control byte or '|'");
        if (p + 1 == end)
            return malformed(p, "trailing backslash");
        if (p[1] == '\\') {
            out.push_back('\\');
            p += 2;
            continue;
        }
        if (p[1] != 'x')
            return malformed(p, "unknown escape");
        if (end - p < 4)
            return malformed(p, "short \\x escape");
        const int hi = LowerHexValue(p[2]);
        const int lo = LowerHexValue(p[3]);
        if (hi < 0 || lo < 0)
            return malformed(p, "\\x needs two lower-case hex digits");
        const char c = static_cast<char>((hi << 4) | lo);
        if (c == '\0')
            return malformed(p, "NUL byte");
        // Only bytes the encoder rewrites may appear as \xHH ('\' itself is always "\\"), so
        // that every decodable text has exactly one source.
        if (!NeedsEscape(c) || c == '\\')
            return malformed(p, "\\x escape of a byte that is never escaped");
        out.push_back(c);
        p += 4;
    }
    return CKxError::Success();
}
