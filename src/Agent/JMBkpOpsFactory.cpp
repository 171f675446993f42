#include "Agent/JMBkpOpsFactory.h"

JMBkpOpsPtr JMBkpOpsFactory::allocObj(const CBackupJobClientPtr& client)
{
    return client ? std::make_shared<JMBkpOps>(client) : nullptr;
}
