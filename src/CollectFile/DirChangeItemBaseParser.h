#pragma once
// CDirChangeItemBaseParser: makes a record object from the fields the directory-change index
// read back for one path (the stored text split at "|", in the order written, separators and
// the empty piece before the first "|" dropped). The base parser makes a
// CDirChangeItemBaseInfo; derived parsers make the scan's own records.
//
// Thread: const; one parser serves every reader of an index.
#include "Base/KxError.h"
#include "CollectFile/FVBase.h"

#include <memory>
#include <string>
#include <vector>

class CDirChangeItemBaseParser {
public:
    CDirChangeItemBaseParser() = default;
    CDirChangeItemBaseParser(const CDirChangeItemBaseParser&) = delete;
    CDirChangeItemBaseParser& operator=(const CDirChangeItemBaseParser&) = delete;
    virtual ~CDirChangeItemBaseParser();

    // Allocation failure: error 14 (KxCode::OutOfMemory).
    [[nodiscard]] virtual CKxError GetItemInfo(FVBasePtr& record, const std::vector<std::string>& fields) const;
};

using CDirChangeItemBaseParserPtr = std::shared_ptr<CDirChangeItemBaseParser>;
