#pragma once
// AutoStreamHandler: the number of data streams a subclient's backup may use.
//
// Thread: any thread.
#include <cstdint>

#include "Agent/Subclient.h"

class AutoStreamHandler {
public:
    // The subclient's "numStreams", at least 1. `distributed`, `nodeCount`, `reserved` and
    // `handler` are accepted for the callers' sake; the count does not depend on them.
    // A null subclient fails with 87; a failing subclient query is passed on.
    [[nodiscard]] static CKxError GetMaxNumberOfStreams(const Subclient* subclient, uint32_t& streams,
                                                        bool distributed, uint32_t nodeCount, int reserved,
                                                        void* handler);
};
