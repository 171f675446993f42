#pragma once
// CIncrFlatCollectFile: the collect file of an incremental job, which also lists the items the
// comparison of directory-change records found deleted (lines the caller formats).
//
// Thread: as CFlatCollectFile.
#include "CollectFile/FlatCollectFile.h"

#include <string>

class CIncrFlatCollectFile : public CFlatCollectFile {
public:
    using CFlatCollectFile::CFlatCollectFile;

    // Writes `line` and "\n" to the open file and counts it as one item (never as a folder,
    // whatever the line ends with). Closed file: error 6. Write failure: the system error with
    // "Failed to write to '<file>'"; raising event 0x11000028 for it is the caller's business.
    [[nodiscard]] CKxError RawWriteDeletedItem(const std::string& line);
};

using CIncrFlatCollectFilePtr = std::shared_ptr<CIncrFlatCollectFile>;
