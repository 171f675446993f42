#include "Scan/ScannerOptionsTandem.h"

#include "Base/FunctionTrace.h"

CScannerOptionsTandem::CScannerOptionsTandem() = default;
CScannerOptionsTandem::~CScannerOptionsTandem() = default;

CKxError CScannerOptionsTandem::LoadConfiguration(const std::string& applicationId)
{
    FSTRACE();
    KX_RETURN_IF_FAILED(CScannerOptions::LoadConfiguration(applicationId), "LoadConfiguration failed for [%s]",
                        applicationId.c_str());
    return CKxError::Success();
}
