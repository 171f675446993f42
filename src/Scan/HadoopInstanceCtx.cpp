#include "Scan/HadoopInstanceCtx.h"

CHadoopInstanceCtx::CHadoopInstanceCtx(std::string uri, std::string user)
    : m_uri(std::move(uri)), m_user(std::move(user))
{
}

CKxError CHadoopInstanceCtx::CreateHDPInstance(const std::string& instanceId,
                                               std::shared_ptr<CHadoopInstanceCtx>& instance)
{
    instance.reset();
    return CKxError(KxCode::NotFound, "No Hadoop instance description for instance [" + instanceId + "]");
}
