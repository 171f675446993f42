#pragma once
// EScanJobType: the kind of scan a job needs, as the job factory decides it.
//
// The numbers are an interface shared with the job manager and the backup phase: only the
// values matter, the enumerator names and the text of AsString are ours. 0 means that no
// rule matched and the driver refuses the job.
#include <string>

class EScanJobType {
public:
    enum ENUM : unsigned {
        eUndetermined = 0,
        eClientOnDemand = 1,
        eDisasterRecoveryFileSystem = 2,
        eFileSystemOtherApp = 3,
        eFileSystem = 5,
        eOnDemandBackupSet = 8,
        eRejectedBackupSetKind = 10,
        eSnapBackup = 11,
        eSnapCatalog = 12,
        eVirtualRepository = 15,
        eProxyClient = 16,
        eDedupDatabase = 17,
        eDisasterRecoveryCopy = 18,
        eQuillboxClient = 21,
        eSnapDeferredCatalog = 30,
        eFileAnalytics = 32,
        eContentIndexCloud = 33,
        eVirtualServerAnalytics = 34,
        eVirtualServerCatalog = 35,
        eSnapCatalogBlockLevel = 36,
        eSnapBackupBlockLevel = 37,
        eArchiving = 42,
        eSnapDiffCatalog = 44,
        eStub = 45,
        eStubSynthFull = 46,
        eStubSynthFullJob = 47,
        eSnapBackupWithScan = 48,
        eObjectStoreMigration = 50,
        eBlockLevelOfflineCatalog = 51,
        eSnapCatalogDirectCopy = 52,
        eContentIndexLocal = 53,
        eExtentSnapBackupWithScan = 54,
        eArchivingDelete = 55,
    };

    constexpr EScanJobType() = default;
    constexpr EScanJobType(ENUM value) : m_value(value) {}  // NOLINT: implicit by design
    constexpr EScanJobType& operator=(ENUM value)
    {
        m_value = value;
        return *this;
    }
    constexpr operator ENUM() const { return m_value; }  // NOLINT: implicit by design
    constexpr bool IsSelected(ENUM value) const { return m_value == value; }
    constexpr unsigned Value() const { return m_value; }

    // "FileSystem(5)"; a value without a name reads "Unknown(<n>)".
    std::string AsString() const;
    // A value from a number (tests, logs); any number is accepted.
    static constexpr EScanJobType FromNumber(unsigned n) { return EScanJobType(static_cast<ENUM>(n)); }

private:
    ENUM m_value = eUndetermined;
};
