#pragma once
// CDirChangeItemParser: makes a version 1 record (CDirChangeItemInfoImpl) from the fields the
// index read back for one path. Fields of a version 2 record are read too: "<RT>" is ignored.
//
// Thread: const; one parser serves every reader of an index.
#include "CollectFile/DirChangeItemBaseParser.h"

class CDirChangeItemParser : public CDirChangeItemBaseParser {
public:
    CDirChangeItemParser();
    ~CDirChangeItemParser() override;

    // Allocation failure: error 14.
    [[nodiscard]] CKxError GetItemInfo(FVBasePtr& record, const std::vector<std::string>& fields) const override;
};
