#include "Scan/ScannerOptionsVSA.h"

#include "Base/FunctionTrace.h"

CScannerOptionsVSA::CScannerOptionsVSA() = default;
CScannerOptionsVSA::~CScannerOptionsVSA() = default;

CKxError CScannerOptionsVSA::LoadConfiguration(const std::string& applicationId)
{
    FSTRACE();
    KX_RETURN_IF_FAILED(CScannerOptions::LoadConfiguration(applicationId), "LoadConfiguration failed for [%s]",
                        applicationId.c_str());
    return CKxError::Success();
}
