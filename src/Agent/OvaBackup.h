#pragma once
// OvaBackup: client facts the backup side keeps.
//
// Thread: any thread.
#include <cstdint>
#include <string>

#include "Base/KxError.h"

class OvaBackup {
public:
    // "client.baseVersion" of the first application configuration (config/apps/*.json, in
    // name order) whose "client.id" is `clientId`; "" when that client sets none. Fails with
    // 1168 when no configuration names the client, 87 without a focus.
    [[nodiscard]] static CKxError getClientBaseVersion(uint64_t clientId, std::string& text);
};
