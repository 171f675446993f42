#include "Scan/Dirchange/DirChangeItemFormatter.h"

#include "Scan/Dirchange/DirChangeItemInfo.h"

#include <charconv>

CDirChangeItemFormatter::CDirChangeItemFormatter() = default;

CDirChangeItemFormatter::~CDirChangeItemFormatter() = default;

namespace {
void AppendNumber(long long value, std::string& out)
{
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}
}  // namespace

void CDirChangeItemFormatter::AppendFields(const CDirChangeItemInfo& info, std::string& out)
{
    out += info.isSelected() ? "|<IS>1|<CI>" : "|<IS>0|<CI>";
    AppendNumber(info.GetCollectFileId(), out);
    if (const unsigned frequency = info.GetBackupFrequency(); frequency != 0) {
        out += "|<BFQ>";
        AppendNumber(frequency, out);
    }
    if (info.IsACLOnly())
        out += "|<ACL>1";
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
