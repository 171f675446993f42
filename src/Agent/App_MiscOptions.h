#pragma once
// App_MiscOptions: per-job options the application manager stores. This agent stores none:
// every query fails with 1168 ("not saved").
//
// Thread: any thread.
#include <cstdint>
#include <string>

#include "Base/KxError.h"

class App_MiscOptions {
public:
    [[nodiscard]] static CKxError getMiscOption(int64_t jobId, uint64_t appId, int option, std::string& value);
};
