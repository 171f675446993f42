#pragma once
// CCollectLineCommonInfo: what every line of one collect file shares: the job and the local
// path of the volume being walked (a snapshot mount, say), which the formatter maps onto the
// volume's source path.
#include <cstdint>
#include <memory>
#include <string>

struct CCollectLineCommonInfo {
    std::int64_t jobId = 0;
    std::string localVolumePath;  // empty: paths are recorded as found
};

using CCollectLineCommonInfoPtr = std::shared_ptr<const CCollectLineCommonInfo>;
