#include "CollectFile/PathCacheFlatFileIndexCompareCallback.h"

CPathCacheFlatFileIndexCompareCallback::~CPathCacheFlatFileIndexCompareCallback() = default;

CKxError CPathCacheFlatFileIndexCompareCallback::OnInIndex1RecurseIntoDeletedFolder(const std::string&,
                                                                                    const FVBasePtr&, bool& recurse)
{
    recurse = false;
    return CKxError::Success();
}

bool CPathCacheFlatFileIndexCompareCallback::WantsInBothIndexes() const { return true; }
