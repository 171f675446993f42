#include "Scan/Dirchange/DirChangeItemParserV2.h"

#include "Scan/Dirchange/DirChangeItemInfoV2Impl.h"

#include <new>

CDirChangeItemParserV2::CDirChangeItemParserV2() = default;

CDirChangeItemParserV2::~CDirChangeItemParserV2() = default;

CKxError CDirChangeItemParserV2::GetItemInfo(FVBasePtr& record, const std::vector<std::string>& fields) const
{
    auto info = std::shared_ptr<CDirChangeItemInfoV2Impl>(new (std::nothrow) CDirChangeItemInfoV2Impl());
    if (!info)
        return CKxError(KxCode::OutOfMemory, "Failed to allocate a directory-change record");
    KX_RETURN_IF_FAILED(info->ParseFields(fields), "Failed to parse a directory-change record");
    record = std::move(info);
    return CKxError::Success();
}
