#include "CollectFile/IncrFlatCollectFile.h"

CKxError CIncrFlatCollectFile::RawWriteDeletedItem(const std::string&)
{
    return CKxError(50, "not yet");
}
