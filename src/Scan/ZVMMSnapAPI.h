#pragma once
// ZVMMSnapAPI: the storage-array manager's answers about the Nutanix file server a client
// stands for: the array id of the client and the control host (login and stored password)
// of that array.
//
// This agent has no storage-array manager: both queries fail (1168), so a job of a Nutanix
// pseudo client fails its set-up with a message that names what is missing, rather than
// scanning without the array's REST credentials.
//
// Thread: any thread.
#include <cstdint>
#include <string>

#include "Base/KxError.h"

struct ZVMMControlHost {
    std::string user;
    std::string encryptedPassword;
};

class ZVMMSnapAPI {
public:
    static CKxError getNutanixArrayId(std::uint64_t clientId, std::string& arrayId);
    static CKxError getControlHostByControlHostId(const std::string& arrayId, ZVMMControlHost& host);
};
