#pragma once
// CDirChangeItemFormatterV2: a version 2 record is written "|<RT>t" (its reference time in
// seconds since 1970, always) followed by the version 1 text; any other record gets the
// version 1 text alone.
//
// Thread: const, as the version 1 formatter.
#include "Scan/Dirchange/DirChangeItemFormatter.h"

class CDirChangeItemFormatterV2 : public CDirChangeItemFormatter {
public:
    CDirChangeItemFormatterV2();
    ~CDirChangeItemFormatterV2() override;

    std::string GetFormattedData(const FVBasePtr& record) const override;
};
