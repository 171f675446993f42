#include "Scan/Dirchange/TrueUpItemFormatter.h"

#include "Scan/Dirchange/TrueUpItemInfo.h"

#include <charconv>
#include <cstring>

CTrueUpItemFormatter::CTrueUpItemFormatter() = default;

CTrueUpItemFormatter::~CTrueUpItemFormatter() = default;

size_t CTrueUpItemFormatter::FormatFields(long long mtime, long long ctime, std::uint64_t size, char kind,
                                          char* out) noexcept
{
    char* const end = out + kMaxTrueUpFields;
    char* at = out;
    std::memcpy(at, "|<MT>", 5);
    at = std::to_chars(at + 5, end, mtime).ptr;
    std::memcpy(at, "|<CT>", 5);
    at = std::to_chars(at + 5, end, ctime).ptr;
    std::memcpy(at, "|<SZ>", 5);
    at = std::to_chars(at + 5, end, size).ptr;
    std::memcpy(at, "|<KD>", 5);
    at[5] = kind;
    return static_cast<size_t>(at + 6 - out);
}

std::string CTrueUpItemFormatter::GetFormattedData(const FVBasePtr& record) const
{
    std::string text = CDirChangeItemFormatter::GetFormattedData(record);
    if (const auto* info = dynamic_cast<const CTrueUpItemInfo*>(record.get())) {
        char fields[kMaxTrueUpFields];
        text.insert(text.size(), fields,
                    FormatFields(info->GetModificationTime(), info->GetChangeTime(), info->GetSize(), info->GetKind(),
                                 fields));
    }
    return text;
}
