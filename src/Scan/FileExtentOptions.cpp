#include "Scan/FileExtentOptions.h"

#include "Agent/Subclient.h"
#include "Base/FunctionTrace.h"
#include "Scan/FileExtentBackupConfigReader.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/ScannerSettings.h"

namespace {
namespace Bag = SXScannerConfigurationBagId;

constexpr int kClusterHadoop = 2;
constexpr int kClusterGpfs = 3;
constexpr int kClusterGluster = 11;
constexpr int kClusterLustre = 13;

constexpr long long kJobFileSystemOtherApp = 3;
constexpr long long kJobFileSystem = 5;
constexpr long long kJobArchiving = 42;
constexpr long long kJobSnapBackupWithScan = 48;
constexpr long long kJobExtentSnapBackupWithScan = 54;
}  // namespace

CKxError FileExtentOptions::ConfigFileExtentOptions(const CBagPtr& bag, Subclient* subclient)
{
    FSTRACE();
    const int clusterType = static_cast<int>(CScannerSettings::GetInteger(*bag, Bag::idDistributedAppType, 0));
    if (clusterType == kClusterHadoop) {
        // Hadoop files are read through the name node; extents let several nodes share a file.
        std::uint32_t multiStream = 1;
        CScannerSettings::GetNumber("nMultiStreamExtentBackup", multiStream);
        if (multiStream != 0) {
            CScannerSettings::Put(*bag, Bag::idMultiStreamExtentBackup, true);
            FSLOG(0, "Extent backup is enabled for Hadoop");
        }
        return CKxError::Success();
    }
    if (clusterType == kClusterLustre || clusterType == kClusterGluster || clusterType == kClusterGpfs)
        return CKxError::Success();

    const long long jobType = CScannerSettings::GetInteger(*bag, Bag::idJobType, 0);
    const bool extentJobType = jobType == kJobFileSystemOtherApp || jobType == kJobFileSystem ||
                               jobType == kJobArchiving || jobType == kJobSnapBackupWithScan ||
                               jobType == kJobExtentSnapBackupWithScan;
    if (!extentJobType && !bag->GetBool(Bag::idSnapBackupWithoutSnapCatalog))
        return CKxError::Success();

    FILEASEXTENTSAPI::CFileExtentBackupConfigReader reader;
    FILEASEXTENTSAPI::SFileExtentBackupConfig config;
    if (jobType == kJobArchiving) {
        bool honorRetention = false;
        CKxError query = subclient->isHonorArchiverRetention(honorRetention);
        if (query.IsError() || !honorRetention) {
            FSLOG(0, "JobBasedRetention not set. Wont check for extent backup configuration");
            return CKxError::Success();
        }
        KX_RETURN_IF_FAILED(reader.GetFileExtentBackupConfigurationForArchiving(subclient, config),
                            "GetFileExtentBackupConfigurationForArchiving failed");
    } else {
        KX_RETURN_IF_FAILED(reader.GetFileExtentBackupConfiguration(subclient, config),
                            "GetFileExtentBackupConfiguration failed");
    }
    FSLOG(0, "Extent backup [%d]. ACL Only Backup [%d]. FileSize [%llu]", config.extentBackupEnabled ? 1 : 0,
          config.aclOnlyBackupEnabled ? 1 : 0, static_cast<unsigned long long>(config.fileSizeThreshold));

    if (config.aclOnlyBackupEnabled)
        CScannerSettings::Put(*bag, Bag::idACLOnlyBackup, true);
    if (!config.extentBackupEnabled && !config.aclOnlyBackupEnabled)
        return CKxError::Success();

    if (jobType == kJobSnapBackupWithScan || jobType == kJobExtentSnapBackupWithScan)
        FSLOG(0, "Snap with scan");
    std::string slabs;
    CScannerSettings::GetString(jobType == kJobArchiving ? "mszArchiveFileExtentSlabs" : "mszFileExtentSlabs", slabs);
    if (!slabs.empty()) {
        CScannerSettings::Put(*bag, Bag::idExtentBackupFileExtentSlabsKey, slabs);
        FSLOG(0, "Extent slabs reg key set [%s]", slabs.c_str());
    }
    CScannerSettings::Put(*bag, Bag::idMultiStreamExtentBackup, true);
    CScannerSettings::Put(*bag, Bag::idExtentBackupFileSize,
                          static_cast<unsigned long long>(config.fileSizeThreshold));
    // True when the extent machinery runs for the ACL-only feature alone.
    CScannerSettings::Put(*bag, Bag::idExtentFeatureEnabledExplicitly, !config.extentBackupEnabled);
    return CKxError::Success();
}
