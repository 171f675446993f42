#pragma once
// CDataClassificationItemInterface: what an item found through a data-classification index
// tells the backup-type evaluator: when the index last saw the item change. The item hands it
// out as its interface 0 (CItem::GetInterface(kInterfaceId)); ordinary walks attach none.
//
// Thread: as the item that carries it.
#include "Base/TimeStamp.h"
#include "Engine/Item.h"

class CDataClassificationItemInterface : public CItemInterface {
public:
    static constexpr int kInterfaceId = 0;

    virtual CTimeStamp GetLastDcUpdateTime() const = 0;
};

using CDataClassificationItemInterfacePtr = std::shared_ptr<CDataClassificationItemInterface>;
