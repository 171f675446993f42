#include "Scan/ZVMMSnapAPI.h"

CKxError ZVMMSnapAPI::getNutanixArrayId(std::uint64_t clientId, std::string& arrayId)
{
    arrayId.clear();
    return CKxError(KxCode::NotFound,
                    KxFormat("No storage array is registered for client [%llu]", static_cast<unsigned long long>(clientId)));
}

CKxError ZVMMSnapAPI::getControlHostByControlHostId(const std::string& arrayId, ZVMMControlHost& host)
{
    host = ZVMMControlHost{};
    return CKxError(KxCode::NotFound, "No control host is registered for array [" + arrayId + "]");
}
