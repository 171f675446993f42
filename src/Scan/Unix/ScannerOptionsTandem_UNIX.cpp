#include "Scan/Unix/ScannerOptionsTandem_UNIX.h"

#include "Base/FunctionTrace.h"

CScannerOptionsTandem_UNIX::CScannerOptionsTandem_UNIX() = default;
CScannerOptionsTandem_UNIX::~CScannerOptionsTandem_UNIX() = default;

CKxError CScannerOptionsTandem_UNIX::LoadConfiguration(const std::string& applicationId)
{
    FSTRACE();
    KX_RETURN_IF_FAILED(CScannerOptionsTandem::LoadConfiguration(applicationId), "LoadConfiguration failed for [%s]",
                        applicationId.c_str());
    return CKxError::Success();
}
