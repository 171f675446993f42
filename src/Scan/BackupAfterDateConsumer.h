#pragma once
// CBackupAfterDateConsumer: the subclient's "back up only what changed after" date
// ("SC:BackupAfterDate"). A file-system item passes when it is already new in the image, or
// when (with "JO:MTIME") its last write time or (with "JO:CTIME") its last change time is at or
// after the date; otherwise it is dropped: "skipping '%s' due to date filter". With both
// switches off every such item is dropped. Items not read from the file system and a clear
// date pass. A dropped folder is still entered.
//
// Thread: read-only after construction; any thread.
#include "Base/TimeStamp.h"
#include "Engine/ItemConsumerChain.h"

class CBackupAfterDateConsumer : public CItemConsumerChain {
public:
    CBackupAfterDateConsumer(CItemConsumerPtr next, CTimeStamp date, bool useMTime, bool useCTime,
                             long long jobId = 0);
    ~CBackupAfterDateConsumer() override;

    [[nodiscard]] CKxError Process(const CItemPtr& item) override;

private:
    CTimeStamp m_date;
    bool m_useMTime;
    bool m_useCTime;
};
