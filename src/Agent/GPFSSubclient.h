#pragma once
// GPFSSubclient: a distributed subclient of cluster type 3, which may scan and back up from a
// file-system snapshot.
//
// Ownership: shared. Thread: any thread.
#include "Agent/DistributedSubclient.h"

class GPFSSubclient : public DistributedSubclient {
public:
    explicit GPFSSubclient(SubclientData data);

    virtual CKxError isUseGpfsSnapshot(bool& use) const;
};

using GPFSSubclientPtr = std::shared_ptr<GPFSSubclient>;
