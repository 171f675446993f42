#include "Scan/Dirchange/DirChangeItemFormatter.h"

#include "Base/HotPath.h"
#include "Scan/Dirchange/DirChangeItemInfo.h"

#include <charconv>
#include <cstring>

CDirChangeItemFormatter::CDirChangeItemFormatter() = default;

CDirChangeItemFormatter::~CDirChangeItemFormatter() = default;

namespace {
char* Put(char* out, const char* text, size_t length) noexcept
{
    std::memcpy(out, text, length);
    return out + length;
}
}  // namespace

KX_HOT_PATH size_t CDirChangeItemFormatter::FormatFields(bool selected, std::int32_t collectFileId, unsigned frequency,
                                                         bool aclOnly, char* out) noexcept
{
    char* at = Put(out, selected ? "|<IS>1|<CI>" : "|<IS>0|<CI>", 11);
    at = std::to_chars(at, out + kMaxFieldsText, collectFileId).ptr;
    if (const unsigned kept = frequency & eDirChangeItemBackupFrequencyMax; kept != 0) {
        at = Put(at, "|<BFQ>", 6);
        at = std::to_chars(at, out + kMaxFieldsText, kept).ptr;
    }
    if (aclOnly)
        at = Put(at, "|<ACL>1", 7);
    return static_cast<size_t>(at - out);
}

size_t CDirChangeItemFormatter::FormatRefTime(long long seconds, char* out) noexcept
{
    char* at = Put(out, "|<RT>", 5);
    at = std::to_chars(at, out + kMaxFieldsText, seconds).ptr;
    return static_cast<size_t>(at - out);
}

void CDirChangeItemFormatter::AppendFields(const CDirChangeItemInfo& info, std::string& out)
{
    char text[kMaxFieldsText];
    out.append(text, FormatFields(info.isSelected(), info.GetCollectFileId(), info.GetBackupFrequency(),
                                  info.IsACLOnly(), text));
}

std::string CDirChangeItemFormatter::GetFormattedData(const FVBasePtr& record) const
{
    const auto* info = dynamic_cast<const CDirChangeItemInfo*>(record.get());
    if (!info)
        return CDirChangeItemBaseFormatter::GetFormattedData(record);
    std::string text;
    AppendFields(*info, text);
    text += CDirChangeItemBaseFormatter::GetFormattedData(record);
    return text;
}
