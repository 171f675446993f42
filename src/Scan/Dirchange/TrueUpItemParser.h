#pragma once
// CTrueUpItemParser: makes a true-up record (CTrueUpItemInfo) from the fields the index read
// back for one path; records of jobs that ran no true-up read with the true-up fields empty.
//
// Thread: const; one parser serves every reader of an index.
#include "CollectFile/DirChangeItemBaseParser.h"

class CTrueUpItemParser : public CDirChangeItemBaseParser {
public:
    CTrueUpItemParser();
    ~CTrueUpItemParser() override;

    // Allocation failure: error 14.
    [[nodiscard]] CKxError GetItemInfo(FVBasePtr& record, const std::vector<std::string>& fields) const override;
};
