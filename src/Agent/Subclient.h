#pragma once
// Subclient: the subclient part of an application configuration ("subclient" object of
// config/apps/<orbundId>:<appNumber>.json, see docs/configuration.md).
//
// Queries return CKxError and fill their out-parameters; the file-backed subclient answers
// every query with success once its configuration loaded. The queries are virtual so that a
// test can derive a subclient whose queries fail and reach the callers' fallback paths.
// A subclient with a "distributed" object is a DistributedSubclient (and a GPFSSubclient for
// cluster type 3): narrow with std::dynamic_pointer_cast.
//
// Ownership: shared; the data is immutable after construction. Thread: any thread.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Base/KxError.h"

// The disk-cleanup rules of archiving jobs ("archiving" object). A rule of 0 (or no extensions)
// is off; a configuration without the object, or with every rule off, archives nothing.
struct SArchivingRules {
    bool present = false;  // "archiving" object given
    uint64_t accessedDays = 0;
    uint64_t modifiedDays = 0;
    uint64_t minFileSize = 0;
    uint64_t maxFileSize = 0;  // 0 = no maximum
    std::vector<std::string> extensions;
    uint32_t highFreePercent = 0;  // clean until this much of the volume is free
    uint32_t lowFreePercent = 0;   // clean a volume whose free space is at or below this
    bool skipSmallerFiles = false;
    bool skipLockTest = false;
    bool reportCandidates = false;
};

struct SubclientData {
    uint64_t id = 0;
    std::string name;
    bool isDefault = false;
    std::vector<std::string> content;
    std::vector<std::string> filters;
    std::vector<std::string> filterExceptions;
    std::vector<std::string> fileNameContent;
    std::vector<std::string> fileNameFilters;
    std::vector<std::string> otherSubclientsContent;
    uint32_t numStreams = 1;
    uint32_t folderLevelThreads = 0;  // 0 = folder-level multithreading off
    bool useMtime = true;
    bool useCtime = true;
    bool collectAcl = false;
    // The fsjournald daemon keeps a change journal for this subclient; a non-full scan with an
    // unbroken journal reads only the folders it names.
    bool changeJournal = false;
    bool trueUpEnabled = false;
    uint32_t trueUpDays = 0;
    uint32_t trueUpJobs = 0;
    bool preserveAccessTimes = false;
    uint64_t backupAfterDate = 0;  // seconds; 0 = off
    bool followSymbolicLinks = false;
    bool appleDouble = false;
    bool multipleReadsPerDisk = false;  // several streams read one physical disk at once
    bool useDataClassification = false;
    int blockLevelBackup = 0;
    bool ddbBackup = false;
    int deleteFilesWithoutBackup = 0;
    int snapEngine = 0;
    bool honorArchiverRetention = false;
    SArchivingRules archiving;
    std::string fileShareMountOptions;
    uint32_t backupNodes = 0;
    bool extentBackupEnabled = false;
    bool extentAclOnly = false;
    uint64_t extentFileSizeThreshold = 0;
    bool distributed = false;  // "distributed" object present
    int clusterType = 0;
    bool useGpfsSnapshot = false;
    // "proxy" object: a client scanned from this host (application type 38).
    std::string proxyHost;                  // the client host
    std::string proxyRoot;                  // the folder scanned on the client
    std::vector<std::string> proxyLaunch;   // starts the client scanner; empty: the one beside fsweep
    bool proxyVtlDisasterRecovery = false;  // a disaster-recovery copy to VTL storage: no scan
    bool proxySetBackupDate = false;        // the backup sets the client's backup-date attribute
};

class Subclient {
public:
    explicit Subclient(SubclientData data);
    virtual ~Subclient() = default;

    // Builds the most derived class the data asks for (Subclient, DistributedSubclient or
    // GPFSSubclient).
    static std::shared_ptr<Subclient> Create(SubclientData data);

    virtual CKxError getSubclientId(uint64_t& id) const;
    virtual CKxError getSubclientName(std::string& name) const;
    virtual CKxError isDefaultSubclient(bool& isDefault) const;

    // Content and filter lists, in configuration order.
    virtual CKxError getContent(std::vector<std::string>& paths) const;
    virtual CKxError getFilters(std::vector<std::string>& patterns) const;
    virtual CKxError getFilterExceptions(std::vector<std::string>& patterns) const;
    virtual CKxError getFileNameContent(std::vector<std::string>& patterns) const;
    virtual CKxError getFileNameFilters(std::vector<std::string>& patterns) const;
    // Content of the other subclients of the backup set (skipped by this one).
    virtual CKxError getOtherSubclientsContent(std::vector<std::string>& paths) const;

    virtual CKxError getNumStreams(uint32_t& streams) const;
    // Enabled when the configured thread count is above 0.
    virtual CKxError isFolderLevelMultithreadEnabled(bool& enabled) const;
    virtual CKxError getFolderLevelThreads(uint32_t& threads) const;

    virtual CKxError isCollectAcl(bool& collect) const;
    virtual CKxError getTrueUpOptions(bool& enabled, uint32_t& days, uint32_t& jobs) const;
    virtual CKxError isPreserveFileAccessTimes(bool& preserve) const;
    // `set` false when no date is configured (then `date` is 0).
    virtual CKxError getBackupAfterDate(bool& set, uint64_t& date) const;
    virtual CKxError isFollowSymbolicLinkEnabled(bool& enabled) const;
    virtual CKxError isAppleDoubleSupportEnabled(bool& enabled) const;
    virtual CKxError isMultipleReadsPerDiskEnabled(bool& enabled) const;
    virtual CKxError getBlockLevelBackup(int& value) const;
    virtual CKxError isDDBBackup(bool& ddb) const;
    virtual CKxError getDeleteFilesWithoutBackup(int& value) const;
    virtual CKxError getSnapEngine(int& value) const;
    virtual CKxError isHonorArchiverRetention(bool& honor) const;
    virtual CKxError getArchivingRules(SArchivingRules& rules) const;
    // Data access / backup configuration node count.
    virtual CKxError getBackupNodes(uint32_t& nodes) const;
    virtual CKxError getExtentBackupOptions(bool& enabled, bool& aclOnly, uint64_t& fileSizeThreshold) const;

    const SubclientData& Data() const { return *m_data; }

protected:
    std::shared_ptr<const SubclientData> m_data;
};

using SubclientPtr = std::shared_ptr<Subclient>;
