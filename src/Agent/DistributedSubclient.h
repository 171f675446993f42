#pragma once
// DistributedSubclient: a subclient whose content is spread over the nodes of a cluster file
// system ("distributed" object of the subclient configuration). Cluster types are the
// application's numbers: 2 Hadoop, 3 GPFS, 11 Gluster, 13 Lustre.
//
// Ownership: shared. Thread: any thread.
#include "Agent/Subclient.h"

class DistributedSubclient : public Subclient {
public:
    explicit DistributedSubclient(SubclientData data);

    virtual CKxError getClusterType(int& clusterType) const;
};

using DistributedSubclientPtr = std::shared_ptr<DistributedSubclient>;
