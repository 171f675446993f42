#include "CollectFile/DirChangeItemBaseParser.h"

#include "CollectFile/DirChangeItemBaseInfo.h"

#include <new>

CDirChangeItemBaseParser::~CDirChangeItemBaseParser() = default;

CKxError CDirChangeItemBaseParser::GetItemInfo(FVBasePtr& record, const std::vector<std::string>& fields) const
{
    auto info = std::shared_ptr<CDirChangeItemBaseInfo>(new (std::nothrow) CDirChangeItemBaseInfo());
    if (!info)
        return CKxError(KxCode::OutOfMemory, "Failed to allocate a directory-change record");
    KX_RETURN_IF_FAILED(info->ParseFields(fields), "Failed to parse a directory-change record");
    record = std::move(info);
    return CKxError::Success();
}
