#include "Scan/Dirchange/TrueUpItemParser.h"

#include "Scan/Dirchange/TrueUpItemInfo.h"

#include <new>

CTrueUpItemParser::CTrueUpItemParser() = default;

CTrueUpItemParser::~CTrueUpItemParser() = default;

CKxError CTrueUpItemParser::GetItemInfo(FVBasePtr& record, const std::vector<std::string>& fields) const
{
    // One allocation per record: both files of a comparison come through here entry by entry.
    std::shared_ptr<CTrueUpItemInfo> info;
    try {
        info = std::make_shared<CTrueUpItemInfo>();
    } catch (const std::bad_alloc&) {
        return CKxError(KxCode::OutOfMemory, "Failed to allocate a true-up directory-change record");
    }
    KX_RETURN_IF_FAILED(info->ParseFields(fields), "Failed to parse a true-up directory-change record");
    record = std::move(info);
    return CKxError::Success();
}
