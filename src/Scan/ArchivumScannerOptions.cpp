#include "Scan/ArchivumScannerOptions.h"

#include "Base/FunctionTrace.h"

CArchivumScannerOptions::CArchivumScannerOptions() = default;
CArchivumScannerOptions::~CArchivumScannerOptions() = default;

CKxError CArchivumScannerOptions::LoadConfiguration(const std::string& applicationId)
{
    FSTRACE();
    KX_RETURN_IF_FAILED(CScannerOptions::LoadConfiguration(applicationId), "LoadConfiguration failed for [%s]",
                        applicationId.c_str());
    return CKxError::Success();
}
