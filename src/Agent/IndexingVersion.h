#pragma once
// The indexing service's answer to "is index version 2 in use for this application": the
// "indexV2" key of config/apps/<orbundId>:<appId>.json (false when absent). A configuration
// that cannot be loaded is an error (its code and message pushed).
//
// Thread: any thread.
#include <cstdint>

#include "Base/KxError.h"

[[nodiscard]] CKxError shouldUseIndexingV2(uint64_t appId, uint64_t orbundId, bool& useV2);
