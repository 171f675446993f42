#include "Agent/IndexingVersion.h"

#include "Agent/ApplicationId.h"

CKxError shouldUseIndexingV2(uint64_t appId, uint64_t orbundId, bool& useV2)
{
    ApplicationId application(orbundId, appId);
    KX_RETURN_IF_FAILED(application.getIndexV2(useV2), "Cannot tell the indexing version of application [%s]",
                        application.getText().c_str());
    return CKxError::Success();
}
