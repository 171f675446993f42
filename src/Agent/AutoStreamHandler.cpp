#include "Agent/AutoStreamHandler.h"

CKxError AutoStreamHandler::GetMaxNumberOfStreams(const Subclient* subclient, uint32_t& streams, bool /*distributed*/,
                                                  uint32_t /*nodeCount*/, int /*reserved*/, void* /*handler*/)
{
    if (!subclient)
        return CKxError(KxCode::InvalidParameter, "No subclient to count streams for");
    uint32_t configured = 0;
    KX_RETURN_IF_FAILED(subclient->getNumStreams(configured), "Failed to read the subclient's stream count");
    streams = configured == 0 ? 1 : configured;
    return CKxError::Success();
}
