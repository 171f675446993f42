#pragma once
// CDirChangeFile: makes the directory-change writer of one output stage: an
// IncrementalDirChange on the job's record (see IncrementalDirChange.h), which records what
// reaches it and passes nothing further.
//
// Thread: any thread; the callback calls it while it makes an output resource.
#include "Base/KxError.h"
#include "Engine/ItemConsumer.h"

class CDirChangeFile {
public:
    // `collectFileId`: the collect number of the stage. Error 14 when it cannot be made.
    [[nodiscard]] static CKxError GetDirChange(long long consumerId, int collectFileId, bool trueUp, bool version2,
                                               CItemConsumerPtr& consumer, long long jobId = 0);
};
