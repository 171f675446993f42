#include "Scan/Dirchange/DirChangeItemParser.h"

#include "Scan/Dirchange/DirChangeItemInfoImpl.h"

#include <new>

CDirChangeItemParser::CDirChangeItemParser() = default;

CDirChangeItemParser::~CDirChangeItemParser() = default;

CKxError CDirChangeItemParser::GetItemInfo(FVBasePtr& record, const std::vector<std::string>& fields) const
{
    auto info = std::shared_ptr<CDirChangeItemInfoImpl>(new (std::nothrow) CDirChangeItemInfoImpl());
    if (!info)
        return CKxError(KxCode::OutOfMemory, "Failed to allocate a directory-change record");
    KX_RETURN_IF_FAILED(info->ParseFields(fields), "Failed to parse a directory-change record");
    record = std::move(info);
    return CKxError::Success();
}
