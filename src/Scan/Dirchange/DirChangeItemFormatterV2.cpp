#include "Scan/Dirchange/DirChangeItemFormatterV2.h"

#include "Scan/Dirchange/DirChangeItemInfoV2.h"


CDirChangeItemFormatterV2::CDirChangeItemFormatterV2() = default;

CDirChangeItemFormatterV2::~CDirChangeItemFormatterV2() = default;

std::string CDirChangeItemFormatterV2::GetFormattedData(const FVBasePtr& record) const
{
    const auto* info = dynamic_cast<const CDirChangeItemInfoV2*>(record.get());
    if (!info)
        return CDirChangeItemFormatter::GetFormattedData(record);
    char field[kMaxFieldsText];
    std::string text(field, FormatRefTime(static_cast<long long>(info->GetRefTime().Seconds()), field));
    text += CDirChangeItemFormatter::GetFormattedData(record);
    return text;
}
