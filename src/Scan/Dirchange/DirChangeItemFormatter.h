#pragma once
// CDirChangeItemFormatter: the text of a version 1 record: "|<IS>s|<CI>n", then "|<BFQ>n" when
// the frequency is not 0 and "|<ACL>1" when the item is ACL only, then the base formatter's
// text. A record that is not a CDirChangeItemInfo gets the base text alone.
//
// Thread: const; one formatter serves every writer of an index (called once per item).
#include "CollectFile/DirChangeItemBaseFormatter.h"

class CDirChangeItemInfo;

class CDirChangeItemFormatter : public CDirChangeItemBaseFormatter {
public:
    CDirChangeItemFormatter();
    ~CDirChangeItemFormatter() override;

    std::string GetFormattedData(const FVBasePtr& record) const override;

protected:
    // Appends the version 1 fields of `info` to `out`.
    static void AppendFields(const CDirChangeItemInfo& info, std::string& out);
};
