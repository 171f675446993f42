#include "Agent/GPFSSubclient.h"

GPFSSubclient::GPFSSubclient(SubclientData data) : DistributedSubclient(std::move(data)) {}

CKxError GPFSSubclient::isUseGpfsSnapshot(bool& use) const
{
    use = m_data->useGpfsSnapshot;
    return CKxError::Success();
}
