#include "Scan/ScanJobSnapBackupDBOptions.h"

#include "Base/FunctionTrace.h"

CScanJobSnapBackupDBOptions::CScanJobSnapBackupDBOptions() = default;
CScanJobSnapBackupDBOptions::~CScanJobSnapBackupDBOptions() = default;

CKxError CScanJobSnapBackupDBOptions::LoadConfiguration(const std::string& applicationId)
{
    FSTRACE();
    KX_RETURN_IF_FAILED(CScannerOptions::LoadConfiguration(applicationId), "LoadConfiguration failed for [%s]",
                        applicationId.c_str());
    return CKxError::Success();
}
