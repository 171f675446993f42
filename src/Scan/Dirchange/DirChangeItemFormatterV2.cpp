#include "Scan/Dirchange/DirChangeItemFormatterV2.h"

#include "Scan/Dirchange/DirChangeItemInfoV2.h"

#include <charconv>

CDirChangeItemFormatterV2::CDirChangeItemFormatterV2() = default;

CDirChangeItemFormatterV2::~CDirChangeItemFormatterV2() = default;

std::string CDirChangeItemFormatterV2::GetFormattedData(const FVBasePtr& record) const
{
    const auto* info = dynamic_cast<const CDirChangeItemInfoV2*>(record.get());
    if (!info)
        return CDirChangeItemFormatter::GetFormattedData(record);
    std::string text = "|<RT>";
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, static_cast<long long>(info->GetRefTime().Seconds()));
    text.append(digits, result.ptr);
    text += CDirChangeItemFormatter::GetFormattedData(record);
    return text;
}
