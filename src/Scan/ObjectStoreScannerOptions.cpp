#include "Scan/ObjectStoreScannerOptions.h"

#include "Base/FunctionTrace.h"

CObjectStoreScannerOptions::CObjectStoreScannerOptions() = default;
CObjectStoreScannerOptions::~CObjectStoreScannerOptions() = default;

CKxError CObjectStoreScannerOptions::LoadConfiguration(const std::string& applicationId)
{
    FSTRACE();
    KX_RETURN_IF_FAILED(CScannerOptions::LoadConfiguration(applicationId), "LoadConfiguration failed for [%s]",
                        applicationId.c_str());
    return CKxError::Success();
}
