#include "Scan/ScanJobSnapBackupOptions.h"

#include "Base/FunctionTrace.h"

CScanJobSnapBackupOptions::CScanJobSnapBackupOptions() = default;
CScanJobSnapBackupOptions::~CScanJobSnapBackupOptions() = default;

CKxError CScanJobSnapBackupOptions::LoadConfiguration(const std::string& applicationId)
{
    FSTRACE();
    KX_RETURN_IF_FAILED(CScannerOptions::LoadConfiguration(applicationId), "LoadConfiguration failed for [%s]",
                        applicationId.c_str());
    return CKxError::Success();
}
