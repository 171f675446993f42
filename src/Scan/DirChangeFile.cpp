#include "Scan/DirChangeFile.h"

#include "Scan/IncrementalDirChange.h"

#include <new>

CKxError CDirChangeFile::GetDirChange(long long consumerId, int collectFileId, bool trueUp, bool version2,
                                      CItemConsumerPtr& consumer, long long jobId)
{
    consumer = std::shared_ptr<IncrementalDirChange>(
        new (std::nothrow) IncrementalDirChange(nullptr, consumerId, collectFileId, trueUp, version2, jobId));
    if (!consumer)
        return CKxError(KxCode::OutOfMemory, "Failed to allocate the directory-change writer");
    return CKxError::Success();
}
