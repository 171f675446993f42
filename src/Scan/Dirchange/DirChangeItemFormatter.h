#pragma once
// CDirChangeItemFormatter: the text of a version 1 record: "|<IS>s|<CI>n", then "|<BFQ>n" when
// the frequency is not 0 and "|<ACL>1" when the item is ACL only, then the base formatter's
// text. A record that is not a CDirChangeItemInfo gets the base text alone.
//
// FormatFields writes the same text from plain values into a caller's buffer: the recording
// stage uses it per item, so that no record object, virtual call or allocation is needed.
//
// Thread: const; one formatter serves every writer of an index (called once per item).
#include "CollectFile/DirChangeItemBaseFormatter.h"

#include <cstddef>
#include <cstdint>

class CDirChangeItemInfo;

class CDirChangeItemFormatter : public CDirChangeItemBaseFormatter {
public:
    // Room for the longest version 1 text, with a version 2 reference time in front.
    static constexpr size_t kMaxFieldsText = 96;

    CDirChangeItemFormatter();
    ~CDirChangeItemFormatter() override;

    std::string GetFormattedData(const FVBasePtr& record) const override;

    // Writes the version 1 text of these values at `out` (kMaxFieldsText bytes of room) and
    // returns its length. `frequency` is kept to its low four bits, as the record keeps it.
    static size_t FormatFields(bool selected, std::int32_t collectFileId, unsigned frequency, bool aclOnly,
                               char* out) noexcept;
    // The version 2 reference time field "|<RT>n" at `out`; returns its length (at most 26).
    static size_t FormatRefTime(long long seconds, char* out) noexcept;

protected:
    // Appends the version 1 fields of `info` to `out`.
    static void AppendFields(const CDirChangeItemInfo& info, std::string& out);
};
