#include "Scan/FileExtentBackupConfigReader.h"

#include "Agent/Subclient.h"

namespace FILEASEXTENTSAPI {

CKxError CFileExtentBackupConfigReader::GetFileExtentBackupConfiguration(const Subclient* subclient,
                                                                         SFileExtentBackupConfig& config) const
{
    if (!subclient)
        return CKxError(KxCode::InvalidParameter, "No subclient to read the extent backup configuration of");
    SFileExtentBackupConfig answer;
    KX_RETURN_IF_FAILED(subclient->getExtentBackupOptions(answer.extentBackupEnabled, answer.aclOnlyBackupEnabled,
                                                          answer.fileSizeThreshold),
                        "getExtentBackupOptions failed");
    config = answer;
    return CKxError::Success();
}

CKxError CFileExtentBackupConfigReader::GetFileExtentBackupConfigurationForArchiving(
    const Subclient* subclient, SFileExtentBackupConfig& config) const
{
    return GetFileExtentBackupConfiguration(subclient, config);
}

}  // namespace FILEASEXTENTSAPI
