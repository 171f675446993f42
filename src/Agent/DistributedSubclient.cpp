#include "Agent/DistributedSubclient.h"

DistributedSubclient::DistributedSubclient(SubclientData data) : Subclient(std::move(data)) {}

CKxError DistributedSubclient::getClusterType(int& clusterType) const
{
    clusterType = m_data->clusterType;
    return CKxError::Success();
}
