#pragma once
// CScannerOptions: gathers every setting that changes how a scan behaves into the scanner
// configuration bag.
//
// Sources: the backup application's configuration (subclient, subclient configuration,
// client, instance, reached through ApplicationId), the agent's settings store (section
// "FileSystemAgent", a few keys from "~FileSystemAgent"), and keys the job wrote from its
// command line before LoadConfiguration runs. Every later stage (job, callbacks, consumers,
// directory-change tracking, splitters) reads its switches from the bag by the keys of
// SXScannerConfigurationBagId and never asks the settings store for them again.
//
// Besides the namespace's keys the options write two literal keys: "orbundId" (unsigned long
// long, the management domain id) and "bEnableAutoSubclientDirCleanup" (bool).
//
// Ownership: the bag is created empty by the constructor and shared with everyone who asks
// (GetConfigurationBag hands out the same bag). The options object is held through
// CScannerOptionsPtr by the job and its callback.
// Thread: LoadConfiguration and the configuration steps run once per job on the main thread,
// before the bag is handed to the scan engine; the bag itself is safe to read from any thread.
#include <cstdint>
#include <memory>
#include <string>

#include "Base/Bag.h"
#include "Base/KxError.h"

class ApplicationId;
class DistributedSubclient;
class Subclient;
class SubclientConf;

class CScannerOptions {
public:
    CScannerOptions();
    virtual ~CScannerOptions();
    CScannerOptions(const CScannerOptions&) = delete;
    CScannerOptions& operator=(const CScannerOptions&) = delete;

    CBagPtr GetConfigurationBag() const { return m_bag; }

    // Fills the bag for the application `applicationId` ("<orbundId>:<appNumber>"). Stops at the
    // first error and returns it; what was written before the error stays in the bag. A missing
    // settings key is never an error (each has its default), nor is a failing subclient query
    // other than those that fetch the configuration objects themselves.
    virtual CKxError LoadConfiguration(const std::string& applicationId);
    // "DataClassification:Scanner" from the subclient configuration (not for cloud laptops).
    virtual CKxError LoadScanType(unsigned long appType, SubclientConf* subclientConf);
    // Extent-level backup of large files; error 774 without a subclient.
    virtual CKxError ConfigureFileExtent(Subclient* subclient, std::shared_ptr<CBag>& bag);
    // "SC:NumStreams" from the subclient's stream count (LoadConfiguration's rule).
    virtual CKxError ConfigureStreams(const std::shared_ptr<ApplicationId>& appId);
    // "SC:NumStreams" from the node count alone: 1, or two per node when distributed.
    virtual CKxError ConfigureStreamsAuto(const std::shared_ptr<ApplicationId>& appId);
    // File-server and Nutanix switches from "SC:ClientAppType".
    virtual CKxError ConfigureClientAppType();
    virtual CKxError ConfigureFileServerShareExpansions();

    // Node count (data access nodes of a distributed subclient, else backup configuration
    // nodes) and the backup configuration value; also kept in this object.
    CKxError GetDANInformation(const std::shared_ptr<ApplicationId>& appId, unsigned int& nodeCount,
                               int& configValue);
    CKxError LoadNutanixConfiguration(const std::shared_ptr<ApplicationId>& appId);
    CKxError ConfigureSubclientDirCleanup();
    bool IsScanJobQualifiedForCleanup();
    // True when the job `lastJobId` saved its failed files in the backup index and the agent
    // is set to take them from there.
    bool ShouldUseIndexForFailedFiles(long long lastJobId, unsigned long appId);

    unsigned int GetDataAccessNodeCount() const { return m_dataAccessNodeCount; }
    int GetBackupConfigurationValue() const { return m_backupConfigurationValue; }

    // A distributed subclient is treated as Lustre when this file exists ("/tmp/lustre"); tests
    // point it elsewhere.
    void SetLustreHookFile(std::string path) { m_lustreHookFile = std::move(path); }

protected:
    // The application resolved by the last LoadConfiguration (null before), for the steps that
    // derived options add after the common load.
    const std::shared_ptr<ApplicationId>& GetLoadedApplicationId() const { return m_applicationId; }
    unsigned long GetLoadedAppType() const { return m_appType; }

    CBagPtr m_bag;
    std::uint32_t m_reserved = 0;
    std::uint32_t m_dataAccessNodeCount = 0;
    std::int32_t m_backupConfigurationValue = 0;

private:
    void LoadEmptyFolderAndAccessTimeSwitches(const Subclient& subclient);
    void LoadSettingsSwitches(const Subclient& subclient, std::uint64_t clientId);
    void LoadClientBaseVersion(std::uint64_t clientId);
    CKxError LoadHadoopConfiguration(const std::string& applicationId);
    void RaiseHadoopFailure(const std::string& eventText);
    void LoadDistributedConfiguration(DistributedSubclient& subclient, bool mtScanThreadsSet,
                                      bool folderLevelMultithread);

    std::shared_ptr<ApplicationId> m_applicationId;
    unsigned long m_appType = 0;
    std::string m_lustreHookFile = "/tmp/lustre";
};

using CScannerOptionsPtr = std::shared_ptr<CScannerOptions>;
