#include "CollectFile/HCollectFile.h"

#include "Base/FXFile.h"
#include "Base/FileNameEscaping.h"

#include <charconv>

namespace {
template <typename Number>
bool TakeNumber(std::string_view& rest, Number& value)
{
    const size_t blank = rest.find(' ');
    if (blank == std::string_view::npos || blank == 0)
        return false;
    auto [end, ec] = std::from_chars(rest.data(), rest.data() + blank, value);
    if (ec != std::errc() || end != rest.data() + blank)
        return false;
    rest.remove_prefix(blank + 1);
    return true;
}
}  // namespace

CKxError HCollectFile::WriteHeaderIfEmpty()
{
    if (m_file.Tell() != 0)
        return CKxError::Success();
    std::string header(kHeader);
    header.push_back('\n');
    ++m_lines;
    return m_file.Append(header);
}

CKxError HCollectFile::OpenForAppend()
{
    KX_RETURN_IF_ERROR(m_file.Open(m_path, true));
    return WriteHeaderIfEmpty();
}

CKxError HCollectFile::Create()
{
    KX_RETURN_IF_ERROR(m_file.Open(m_path, false));
    return WriteHeaderIfEmpty();
}

CKxError HCollectFile::Append(const HLinkGroupElement& element)
{
    std::string line;
    FormatLine(element, line);
    ++m_lines;
    return m_file.Append(line);
}

CKxError HCollectFile::Close() { return m_file.Close(); }

void HCollectFile::FormatLine(const HLinkGroupElement& element, std::string& line)
{
    line += "# ";
    line += std::to_string(element.inode);
    line.push_back(' ');
    line += std::to_string(element.device);
    line.push_back(' ');
    line += std::to_string(element.changeTime);
    line.push_back(' ');
    line += std::to_string(element.size);
    line.push_back(' ');
    escapeFileNameAppend(element.path, line);
    line.push_back('\n');
}

CKxError HCollectFile::ParseLine(std::string_view line, HLinkGroupElement& element)
{
    std::string_view rest = line;
    if (!rest.starts_with("# "))
        return CKxError(KxCode::InvalidData, "not a hard-link line");
    rest.remove_prefix(2);
    if (!TakeNumber(rest, element.inode) || !TakeNumber(rest, element.device) ||
        !TakeNumber(rest, element.changeTime) || !TakeNumber(rest, element.size))
        return CKxError(KxCode::InvalidData, "a hard-link line needs inode, device, change time and size");
    KX_RETURN_IF_FAILED(unescapeFileName(rest, element.path), "the path of a hard-link line does not decode");
    if (!element.path.starts_with('/'))
        return CKxError(KxCode::InvalidData, "the path of a hard-link line is not absolute");
    return CKxError::Success();
}

CKxError HCollectFile::ReadGroups(const std::string& path, HLinkGroups& groups)
{
    std::string content;
    KX_RETURN_IF_FAILED(FXFile::ReadWholeFile(path, content), "Could not read hard-link collect file [%s]",
                        path.c_str());
    size_t lineNumber = 0;
    for (size_t start = 0; start < content.size();) {
        const size_t end = std::min(content.find('\n', start), content.size());
        const std::string_view line(content.data() + start, end - start);
        start = end + 1;
        ++lineNumber;
        if (line.empty() || line == kHeader)
            continue;
        HLinkGroupElement element;
        if (CKxError parsed = ParseLine(line, element); parsed.IsError())
            return std::move(parsed.Push(KxFormat("Line %zu of hard-link collect file [%s] is malformed",
                                                  lineNumber, path.c_str())));
        groups[{element.device, element.inode}].push_back(std::move(element));
    }
    return CKxError::Success();
}
