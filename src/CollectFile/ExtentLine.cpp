#include "CollectFile/ExtentLine.h"

#include "Base/FileNameEscaping.h"

#include <algorithm>
#include <charconv>

namespace {
CKxError Malformed(std::string_view line, const char* why)
{
    return CKxError(KxCode::InvalidData,
                    KxFormat("Extent line [%.*s] %s", static_cast<int>(line.size()), line.data(), why));
}

// Takes the decimal number after the last `separator` off `text`; false when there is none.
bool TakeNumberFromRight(std::string_view& text, char separator, std::uint64_t& value)
{
    const size_t at = text.rfind(separator);
    if (at == std::string_view::npos || at + 1 == text.size())
        return false;
    const char* first = text.data() + at + 1;
    const char* last = text.data() + text.size();
    auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last)
        return false;
    text = text.substr(0, at);
    return true;
}

void AppendNumber(std::string& out, char separator, std::uint64_t value)
{
    char digits[24];
    digits[0] = separator;
    auto [end, ec] = std::to_chars(digits + 1, digits + sizeof digits, value);
    (void)ec;
    out.append(digits, static_cast<size_t>(end - digits));
}
}  // namespace

bool CExtentLine::KindOf(std::string_view line, EKind& kind)
{
    if (line.empty() || line.front() != '%')
        return false;
    if (line.starts_with(kExtentMarker))
        kind = EKind::Extent;
    else if (line.starts_with(kQualifiedMarker))
        kind = EKind::Qualified;
    else if (line.starts_with(kContainerMarker))
        kind = EKind::Container;
    else
        return false;
    return true;
}

CKxError CExtentLine::Parse(std::string_view line, CExtentLine& parsed)
{
    parsed = CExtentLine{};
    if (!KindOf(line, parsed.kind))
        return Malformed(line, "has no extent marker");
    std::string_view rest = line.substr(parsed.kind == EKind::Extent      ? kExtentMarker.size()
                                        : parsed.kind == EKind::Qualified ? kQualifiedMarker.size()
                                                                          : kContainerMarker.size());
    // Escaped paths hold no '|': one there is the size separator.
    if (rest.find('|') != std::string_view::npos) {
        if (!TakeNumberFromRight(rest, '|', parsed.size))
            return Malformed(line, "has a size that is not a number");
        parsed.hasSize = true;
    }
    std::uint64_t* fields[] = {&parsed.extentSize, &parsed.fileSize, &parsed.mtime, &parsed.inode, &parsed.device};
    for (std::uint64_t* field : fields)
        if (!TakeNumberFromRight(rest, ':', *field))
            return Malformed(line, "is short of its five numbers");
    if (parsed.kind == EKind::Extent && !TakeNumberFromRight(rest, '/', parsed.index))
        return Malformed(line, "has no extent index");
    if (rest.empty() || unescapeFileName(rest, parsed.path).IsError())
        return Malformed(line, "does not name a path");
    return CKxError::Success();
}

void CExtentLine::AppendTo(std::string& out) const
{
    out.append(kind == EKind::Extent      ? kExtentMarker
               : kind == EKind::Qualified ? kQualifiedMarker
                                          : kContainerMarker);
    escapeFileNameAppend(path, out);
    if (kind == EKind::Extent)
        AppendNumber(out, '/', index);
    for (std::uint64_t field : {device, inode, mtime, fileSize, extentSize})
        AppendNumber(out, ':', field);
    if (hasSize)
        AppendNumber(out, '|', size);
}

std::string CExtentLine::Format() const
{
    std::string line;
    AppendTo(line);
    return line;
}

std::uint64_t CExtentLine::ExtentCount() const
{
    const std::uint64_t step = EffectiveExtentSize();
    return fileSize / step + (fileSize % step != 0 ? 1 : 0);
}

std::uint64_t CExtentLine::ExtentLength(std::uint64_t at) const
{
    const std::uint64_t step = EffectiveExtentSize();
    if (at >= ExtentCount())
        return 0;
    const std::uint64_t offset = at * step;  // below fileSize: no overflow
    return std::min(step, fileSize - offset);
}
