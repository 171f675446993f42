#include "Agent/JMBkpOps.h"

JMBkpOps::JMBkpOps(CBackupJobClientPtr client) : m_client(std::move(client)) {}

CKxError JMBkpOps::setIndexQueriedForIncompleteLargeFiles(bool value)
{
    if (!m_client)
        return CKxError(KxCode::InvalidParameter, "No job-manager client");
    return m_client->setIndexQueriedForIncompleteLargeFiles(value);
}
