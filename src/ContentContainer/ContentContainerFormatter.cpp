#include "ContentContainer/ContentContainerFormatter.h"

#include <charconv>

namespace CX {

namespace {
constexpr std::string_view kCollectMark = "Collect=\"true\"";

void AppendNumber(std::string& out, std::string_view name, std::int64_t value)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(name).append("=\"").append(digits, end).push_back('"');
}

void AppendFileId(std::string& out, std::uint64_t fileId)
{
    if (fileId == 0)
        return;
    static constexpr char kHex[] = "0123456789ABCDEF";
    char text[18] = {'0', 'x'};
    for (int digit = 0; digit < 16; ++digit)
        text[2 + digit] = kHex[(fileId >> (60 - 4 * digit)) & 0xF];
    out.append(" FileId=\"").append(text, sizeof text).push_back('"');
}
}  // namespace

void CContentContainerFormatter::CreateMetadata(const SItemMetadata& item, std::string& out)
{
    out.append("<Metadata><Filesystem CreationTime=\"0\" ");
    AppendNumber(out, "ModifiedTime", item.modifiedTime);
    out.push_back(' ');
    AppendNumber(out, "AccessTime", item.accessTime);
    out.push_back(' ');
    AppendNumber(out, "ChangeTime", item.changeTime);
    out.push_back(' ');
    AppendNumber(out, "FileSize", item.fileSize);
    if (item.folder)
        out.append(" Folder=\"true\"");
    AppendFileId(out, item.fileId);
    out.append("/>");
    if (item.collect)
        out.append("<State Collect=\"true\"/>");
    out.append("</Metadata>");
}

void CContentContainerFormatter::CreateParentMetadata(std::uint64_t fileId, std::string& out)
{
    out.append("<Metadata><Filesystem Folder=\"true\"");
    AppendFileId(out, fileId);
    out.append("/></Metadata>");
}

CKxError CContentContainerFormatter::UpdateMetadata(std::string& metadata, EMetadataType type)
{
    if (type != EMetadataType::Collect)
        return CKxError(KxCode::InvalidParameter, "No update function found for this meta data type ");
    constexpr std::string_view kEnd = "</Metadata>";
    constexpr std::string_view kState = "<State Collect=\"true\" Updated=\"true\"/>";
    if (!metadata.starts_with("<Metadata>") || !metadata.ends_with(kEnd))
        return CKxError(KxCode::InvalidData, "LoadFromString failed, Metadata=[" + metadata + "]");
    // Our documents hold at most one "State" element, always last and without children.
    const size_t state = metadata.find("<State");
    const size_t from = state == std::string::npos ? metadata.size() - kEnd.size() : state;
    metadata.replace(from, metadata.size() - kEnd.size() - from, kState);
    return CKxError::Success();
}

bool CContentContainerFormatter::HasCollectMark(std::string_view metadata)
{
    return metadata.find(kCollectMark) != std::string_view::npos;
}

}  // namespace CX
