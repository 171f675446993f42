#include "CollectFile/OwedItemLine.h"

#include "CollectFile/ExtentLine.h"
#include "Base/FileNameEscaping.h"

#include <algorithm>
#include <charconv>

namespace {
using EKind = COwedItemLine::EKind;

CKxError Malformed(std::string_view line, const char* why)
{
    return CKxError(KxCode::InvalidData,
                    KxFormat("Owed-item line [%.*s] %s", static_cast<int>(line.size()), line.data(), why));
}

// Cuts trailing "\r" and "\n"; true when what is left is a line to read.
bool Trim(std::string_view& line)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    return !line.empty() && line.front() != '\t';
}

// Decodes an escaped absolute path, noting and dropping a trailing '/'.
CKxError SetPath(std::string_view line, std::string_view escaped, bool decode, COwedItemLine& parsed)
{
    if (escaped.size() > 1 && escaped.back() == '/') {
        parsed.folder = true;
        while (escaped.size() > 1 && escaped.back() == '/')
            escaped.remove_suffix(1);
    }
    if (decode) {
        if (unescapeFileName(escaped, parsed.path).IsError())
            return Malformed(line, "does not decode");
    } else {
        parsed.path.assign(escaped);
    }
    if (parsed.path.empty() || parsed.path.front() != '/')
        return Malformed(line, "does not name an absolute path");
    return CKxError::Success();
}
}  // namespace

CKxError COwedItemLine::ParseFailedLine(std::string_view line, COwedItemLine& parsed)
{
    parsed = COwedItemLine{};
    if (!Trim(line))
        return CKxError::Success();
    std::string_view rest = line;
    parsed.kind = EKind::Item;
    if (rest.starts_with(kAclOnlyPrefix)) {
        parsed.kind = EKind::AclOnly;
        rest.remove_prefix(kAclOnlyPrefix.size());
    }
    const size_t colon = rest.rfind(':');
    if (colon == std::string_view::npos)
        return Malformed(line, "has no error number after its last ':'");
    const std::string_view number = rest.substr(colon + 1);
    auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), parsed.error);
    if (number.empty() || ec != std::errc() || end != number.data() + number.size())
        return Malformed(line, "has no error number after its last ':'");
    return SetPath(line, rest.substr(0, colon), true, parsed);
}

CKxError COwedItemLine::ParseCommitLine(std::string_view line, COwedItemLine& parsed)
{
    parsed = COwedItemLine{};
    if (!Trim(line))
        return CKxError::Success();
    std::string_view rest = line;
    if (rest.starts_with("??d") || rest.starts_with("??D")) {
        parsed.kind = EKind::Deleted;
        const bool folder = rest[2] == 'D';
        KX_RETURN_IF_ERROR(SetPath(line, rest.substr(3), true, parsed));
        parsed.folder = parsed.folder || folder;
        return CKxError::Success();
    }
    if (rest.starts_with("??MA")) {
        parsed.kind = EKind::Item;
        return SetPath(line, rest.substr(4), true, parsed);
    }
    if (rest.starts_with(kAclOnlyPrefix)) {
        parsed.kind = EKind::AclOnly;
        return SetPath(line, rest.substr(kAclOnlyPrefix.size()), true, parsed);
    }
    if (CExtentLine::EKind extentKind{};
        CExtentLine::KindOf(rest, extentKind) && extentKind != CExtentLine::EKind::Qualified) {
        // Read as the collect files hold them, with or without the length the split takes off.
        CExtentLine extent;
        if (CExtentLine::Parse(rest, extent).IsError())
            return Malformed(line, "is an extent or container line short of its fields");
        parsed.kind = extentKind == CExtentLine::EKind::Extent ? EKind::Extent : EKind::Container;
        parsed.path = std::move(extent.path);
        if (parsed.path.empty() || parsed.path.front() != '/')
            return Malformed(line, "does not name an absolute path");
        return CKxError::Success();
    }
    if (rest.starts_with('#')) {
        // Five fields at single blanks; the sixth, the path, is the rest of the line.
        if (line == "# /")
            return CKxError::Success();  // the header of a hard-link file
        parsed.kind = EKind::HardLink;
        for (int field = 0; field < 5; ++field) {
            const size_t blank = rest.find(' ');
            if (blank == std::string_view::npos)
                return Malformed(line, "is a hard link short of fields");
            rest.remove_prefix(blank + 1);
        }
        rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
        return SetPath(line, rest, false, parsed);
    }
    if (rest.starts_with(kRawDevicePrefix)) {
        parsed.kind = EKind::RawDevice;
        return SetPath(line, rest.substr(kRawDevicePrefix.size() - 1), true, parsed);
    }
    // An item line as a collect file holds it: '|' is always escaped inside a path, so a last
    // '|' is the size separator.
    parsed.kind = EKind::Item;
    if (const size_t bar = rest.rfind('|'); bar != std::string_view::npos)
        rest = rest.substr(0, bar);
    return SetPath(line, rest, true, parsed);
}

std::string COwedItemLine::FormatFailedLine(std::string_view path, int error)
{
    std::string line;
    escapeFileNameAppend(path, line);
    line.push_back(':');
    line.append(std::to_string(error));
    return line;
}
