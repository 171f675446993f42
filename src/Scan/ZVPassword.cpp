#include "Scan/ZVPassword.h"

CKxError ZVPassword::decrypt(const std::string& stored, std::string& plain)
{
    if (stored.empty())
        return CKxError(KxCode::InvalidParameter, "Empty stored password");
    plain = stored;
    return CKxError::Success();
}
