#pragma once
// CDirChangeItemBaseInfo: the part of a directory-change record the index itself owns. It has
// no fields of its own today; derived records (the scan's selection, collect-file number,
// backup frequency...) add theirs and call ParseFields of this class first.
#include "Base/KxError.h"
#include "CollectFile/FVBase.h"

#include <string>
#include <vector>

class CDirChangeItemBaseInfo : public FVBase {
public:
    CDirChangeItemBaseInfo() = default;
    ~CDirChangeItemBaseInfo() override;

    // `fields` are the record's "|"-separated fields in the order written, without the
    // separators. Fields this class does not know are left to derived classes.
    [[nodiscard]] virtual CKxError ParseFields(const std::vector<std::string>& fields);
};

using CDirChangeItemBaseInfoPtr = std::shared_ptr<CDirChangeItemBaseInfo>;
