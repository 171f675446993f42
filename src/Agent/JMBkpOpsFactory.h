#pragma once
// JMBkpOpsFactory: hands out JMBkpOps objects for a job's client.
//
// Thread: any thread.
#include "Agent/JMBkpOps.h"

class JMBkpOpsFactory {
public:
    // Null for a null client.
    static JMBkpOpsPtr allocObj(const CBackupJobClientPtr& client);
};
