#pragma once
// CTrueUpItemFormatter: the text of a true-up job's record (CTrueUpItemInfo): the version 1
// fields, then "|<MT>n|<CT>n|<SZ>n|<KD>c". Other records get the version 1 text.
//
// FormatFields writes the true-up part from plain values into a caller's buffer, so that the
// recording stage and the writer of the index view make no record object per item.
//
// Thread: const; one formatter serves every writer of an index.
#include "Scan/Dirchange/DirChangeItemFormatter.h"

#include <cstdint>

class CTrueUpItemFormatter : public CDirChangeItemFormatter {
public:
    // Room for the true-up part, and for the version 1 text with it.
    static constexpr size_t kMaxTrueUpFields = 96;
    static constexpr size_t kMaxText = kMaxFieldsText + kMaxTrueUpFields;

    CTrueUpItemFormatter();
    ~CTrueUpItemFormatter() override;

    std::string GetFormattedData(const FVBasePtr& record) const override;

    // Writes "|<MT>n|<CT>n|<SZ>n|<KD>c" at `out` (kMaxTrueUpFields bytes of room); returns its
    // length.
    static size_t FormatFields(long long mtime, long long ctime, std::uint64_t size, char kind, char* out) noexcept;
};
