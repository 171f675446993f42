#include "Scan/ScanJobType.h"

#include "Base/KxError.h"

std::string EScanJobType::AsString() const
{
    const char* name = nullptr;
    switch (m_value) {
    case eUndetermined: name = "Undetermined"; break;
    case eClientOnDemand: name = "ClientOnDemand"; break;
    case eDisasterRecoveryFileSystem: name = "DisasterRecoveryFileSystem"; break;
    case eFileSystemOtherApp: name = "FileSystemOtherApp"; break;
    case eFileSystem: name = "FileSystem"; break;
    case eOnDemandBackupSet: name = "OnDemandBackupSet"; break;
    case eRejectedBackupSetKind: name = "RejectedBackupSetKind"; break;
    case eSnapBackup: name = "SnapBackup"; break;
    case eSnapCatalog: name = "SnapCatalog"; break;
    case eVirtualRepository: name = "VirtualRepository"; break;
    case eProxyClient: name = "ProxyClient"; break;
    case eDedupDatabase: name = "DedupDatabase"; break;
    case eDisasterRecoveryCopy: name = "DisasterRecoveryCopy"; break;
    case eQuillboxClient: name = "QuillboxClient"; break;
    case eSnapDeferredCatalog: name = "SnapDeferredCatalog"; break;
    case eFileAnalytics: name = "FileAnalytics"; break;
    case eContentIndexCloud: name = "ContentIndexCloud"; break;
    case eVirtualServerAnalytics: name = "VirtualServerAnalytics"; break;
    case eVirtualServerCatalog: name = "VirtualServerCatalog"; break;
    case eSnapCatalogBlockLevel: name = "SnapCatalogBlockLevel"; break;
    case eSnapBackupBlockLevel: name = "SnapBackupBlockLevel"; break;
    case eArchiving: name = "Archiving"; break;
    case eSnapDiffCatalog: name = "SnapDiffCatalog"; break;
    case eStub: name = "Stub"; break;
    case eStubSynthFull: name = "StubSynthFull"; break;
    case eStubSynthFullJob: name = "StubSynthFullJob"; break;
    case eSnapBackupWithScan: name = "SnapBackupWithScan"; break;
    case eObjectStoreMigration: name = "ObjectStoreMigration"; break;
    case eBlockLevelOfflineCatalog: name = "BlockLevelOfflineCatalog"; break;
    case eSnapCatalogDirectCopy: name = "SnapCatalogDirectCopy"; break;
    case eContentIndexLocal: name = "ContentIndexLocal"; break;
    case eExtentSnapBackupWithScan: name = "ExtentSnapBackupWithScan"; break;
    case eArchivingDelete: name = "ArchivingDelete"; break;
    }
    return KxFormat("%s(%u)", name ? name : "Unknown", static_cast<unsigned>(m_value));
}
