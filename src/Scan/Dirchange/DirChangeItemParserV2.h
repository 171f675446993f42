#pragma once
// CDirChangeItemParserV2: makes a version 2 record (CDirChangeItemInfoV2Impl) from the fields
// the index read back for one path; a record without "<RT>" keeps a clear reference time.
//
// Thread: const, as the version 1 parser.
#include "Scan/Dirchange/DirChangeItemParser.h"

class CDirChangeItemParserV2 : public CDirChangeItemParser {
public:
    CDirChangeItemParserV2();
    ~CDirChangeItemParserV2() override;

    // Allocation failure: error 14.
    [[nodiscard]] CKxError GetItemInfo(FVBasePtr& record, const std::vector<std::string>& fields) const override;
};
