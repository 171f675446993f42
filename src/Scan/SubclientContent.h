#pragma once
// CSubclientContent: loads what a subclient backs up and turns every entry into the form the
// scan engine matches. The result is a CScanContentConfiguration whose lists the file-system
// job hands to CWorkUnitManager::FinalizeWorkUnits (GetScanContentConfiguration()->
// FinalizeWorkUnits(manager)).
//
// Process runs, in order, stopping at the first failure (each pushes its own message):
//   Initialize              "Initialize failed"
//   LoadContent             "Failed to load subclient content" (content, symbolic-link
//                           expansion, new content)
//   LoadScanContentExceptions "GetScanContentNoDirs failed"
//   LoadFilterContent       "GetNoNamesAndYesNames failed"
//   LoadSpecialContentFilters, LoadSpecialContentFilterExceptions, LoadSystemFilters
//   LoadAndParseBlackListScanContent
//   ReviewScanContent, PostProcess
// A single bad entry never fails it: the entry is logged and skipped. Content that ends up
// empty fails with 4306 ("Nothing to backup"), or 1168 when content files named by the
// content were missing (GetFailedContentFiles lists them).
//
// The platform part (CSubclientContentPrivate; on this platform CSubclientContentUnix, made
// by InitializePrivate) does the per-entry parsing and the platform steps; the steps marked
// "forwarded" below call it.
//
// Bag keys read: "SC:LoadContentFile", "SC::DisableSkipOverlapContent", "CacheDBBackup",
// "SC:InstanceBaseVersion" (11 when absent), "SC:IsLaptopClient", "SC::WildCardISC".
// Bag keys written: "SC:isDefaultSC", "SC:isDefaultSCContentRoot", "CacheDBBackup" (when the
// content names the cache database).
//
// Ownership: the file-system job owns it; it owns its platform part and shares its
// configuration. Thread: every member runs on the job's thread.
#include "Base/Bag.h"
#include "Base/KxError.h"
#include "Base/TimeStamp.h"
#include "Scan/ContentPreprocessor.h"
#include "Scan/NewContentQuery.h"
#include "Scan/ScanContentConfiguration.h"
#include "Scan/SystemFilterEnumerator.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class ApplicationId;
class Subclient;
class SubclientConf;
class CSubclientContentPrivate;

class CSubclientContent {
public:
    // Content-file load types: what the lines of a content file are.
    enum ELoadType { LoadTypeContent = 1, LoadTypeFilter = 2, LoadTypeException = 3, LoadTypeCriteriaContent = 4 };

    // Labels under which loaded lists are handed on (ProcessFilterContent).
    static constexpr const char* kContentLabel = "SCDIRNAMES";
    static constexpr const char* kContentExceptionLabel = "SCNODIRS";
    static constexpr const char* kFolderFilterLabel = "PRUNEDIRS";
    static constexpr const char* kFolderFilterExceptionLabel = "NOPRUNEDIRS";
    static constexpr const char* kNameContentLabel = "YESNAMES";
    static constexpr const char* kNameFilterLabel = "NONAMES";

    // The default places of the system denylist, looked at in this order.
    static constexpr const char* kDenylistFile = "/etc/zv_backup_denylist";
    static constexpr const char* kLegacyDenylistFile = "/etc/zv_backup_blacklist";

    // `applicationId` is "<orbundId>:<appNumber>"; `backupLevel` the backup type (1 full, 2
    // incremental, 4 differential); `referenceTime` the previous job's time (0 for a full
    // backup: no new content is asked for then).
    CSubclientContent(std::string clientName, std::string applicationId, unsigned backupLevel, CBagPtr bag,
                      CTimeStamp referenceTime = CTimeStamp());
    virtual ~CSubclientContent();
    CSubclientContent(const CSubclientContent&) = delete;
    CSubclientContent& operator=(const CSubclientContent&) = delete;

    static bool IsValidLoadType(int loadType);
    // "content", "filter", "exception", "criteria content" or "invalid".
    static const char* LoadTypeToString(int loadType);

    // --- the steps, in slot order ---
    [[nodiscard]] virtual CKxError InitializePrivate();
    [[nodiscard]] virtual CKxError Process();
    [[nodiscard]] virtual CKxError Initialize();
    [[nodiscard]] virtual CKxError LoadContent();
    [[nodiscard]] virtual CKxError LoadContent_ExpandSymbolicLink();  // forwarded
    [[nodiscard]] virtual CKxError LoadSubClientConfiguration();      // forwarded
    [[nodiscard]] virtual CKxError LoadScanContent();
    [[nodiscard]] virtual CKxError LoadScanContentExceptions();
    [[nodiscard]] virtual CKxError LoadNewContent();
    [[nodiscard]] virtual CKxError LoadFilterContent();
    [[nodiscard]] virtual CKxError LoadSpecialContentFilters();           // forwarded
    [[nodiscard]] virtual CKxError LoadSpecialContentFilterExceptions();  // forwarded
    [[nodiscard]] virtual CKxError LoadSystemFilters();                   // forwarded
    // Parses every entry of `enumerator` as a system filter or system filter exception.
    [[nodiscard]] virtual CKxError LoadSystemFilters(CSystemFilterEnumerator& enumerator);
    [[nodiscard]] virtual CKxError LoadAndParseBlackListScanContent();  // forwarded
    [[nodiscard]] virtual CKxError ReviewScanContent();                 // forwarded
    [[nodiscard]] virtual CKxError PostProcess();
    [[nodiscard]] virtual CKxError PostProcessFilterBlock();

    // Each parse step appends what `entry` stands for to `out` (content files expanded where
    // the step takes them); an entry that stands for nothing appends nothing.
    [[nodiscard]] virtual CKxError ParseScanContent(const std::string& entry, std::vector<std::string>& out);
    [[nodiscard]] virtual CKxError ParseScanContentExceptions(const std::string& entry, std::vector<std::string>& out);
    [[nodiscard]] virtual CKxError ParseNewContent(const std::string& entry, std::vector<std::string>& out);
    [[nodiscard]] virtual CKxError ParseFilters(const std::string& entry, std::vector<std::string>& out);
    [[nodiscard]] virtual CKxError ParseFilterExceptions(const std::string& entry, std::vector<std::string>& out);
    [[nodiscard]] virtual CKxError ParseSystemFilters(const std::string& entry, std::vector<std::string>& out);
    [[nodiscard]] virtual CKxError ParseSystemFilterExceptions(const std::string& entry,
                                                               std::vector<std::string>& out);
    [[nodiscard]] virtual CKxError ParseCriteriaContent(const std::string& entry, std::vector<std::string>& out);

    virtual CContentPreprocessorPtr GetContentPreprocessor();  // forwarded
    // The system filters every subclient gets: the agent's own results and temporary folders
    // when they lie under the content (the scan writes there while it walks).
    virtual CSystemFilterEnumeratorPtr GetSystemFilterEnumerator();
    // The common first step of the parse steps: trims "\t\r\n" from the right; `skip` is set
    // for an empty entry and, with `markMigrationAssistant`, for the migration-assistant
    // entry (which is recorded on the configuration instead).
    virtual void PreProcessFilterItem(const std::string& entry, std::string& item, bool& skip,
                                      bool markMigrationAssistant);
    // With content files enabled, reads `item` when it names one; `handled` is true when the
    // entry was a content file (or failed as one) and needs no parsing of its own.
    [[nodiscard]] CKxError LoadIfContentFile(const std::string& item, int loadType, std::vector<std::string>& out,
                                             bool& handled);
    // When `entry` names a content file ("<INCLUDE>path", or "/<INCLUDE>path"; the marker in
    // any case), sets `isContentFile` and parses each of the file's lines with the parse step
    // of `loadType` into `out`. A missing or irregular file fails (and is remembered in
    // GetFailedContentFiles when missing); a bad line is logged and skipped.
    [[nodiscard]] virtual CKxError LoadContentFile(const std::string& entry, bool& isContentFile, int loadType,
                                                   std::vector<std::string>& out);
    // Hands a loaded list on under its label (SCDIRNAMES, SCNODIRS, PRUNEDIRS, NOPRUNEDIRS,
    // YESNAMES, NONAMES); forwarded.
    [[nodiscard]] virtual CKxError ProcessFilterContent(const std::string& label, const std::vector<std::string>& list);
    // Writes the status file the next job compares with (HasSubclientContentChanged): one
    // line per content path "ClientContent||F||<path>", per filter "ClientFilters||F||<entry>"
    // and per filter exception "ClientFilters||E||<entry>". Forwarded.
    [[nodiscard]] virtual CKxError SaveSubclientStatus(const std::string& path) const;
    // Compares the content, filters and filter exceptions with those of the previous job's
    // status (or scan view) file. An unreadable file is no change.
    [[nodiscard]] virtual CKxError HasSubclientContentChanged(const std::string& path, bool& changed) const;

    // --- what the job and the platform part read ---
    const CScanContentConfigurationPtr& GetScanContentConfiguration() const { return m_configuration; }
    const std::string& GetClientName() const { return m_clientName; }
    const std::string& GetApplicationIdText() const { return m_applicationIdText; }
    const std::string& GetSubclientName() const { return m_subclientName; }
    unsigned GetBackupLevel() const { return m_backupLevel; }
    CTimeStamp GetReferenceTime() const { return m_referenceTime; }
    const CBagPtr& GetBag() const { return m_bag; }
    const std::shared_ptr<ApplicationId>& GetApplicationId() const { return m_applicationId; }
    const std::shared_ptr<Subclient>& GetSubclient() const { return m_subclient; }
    const std::shared_ptr<SubclientConf>& GetSubclientConf() const { return m_subclientConf; }
    CSubclientContentPrivate* GetPrivate() const { return m_private.get(); }
    bool IsDefaultSubclient() const { return m_defaultSubclient; }
    bool IsLoadContentFile() const { return m_loadContentFile; }
    bool IsDisableSkipOverlapContent() const { return m_disableSkipOverlapContent; }
    bool IsCacheDBBackup() const { return m_cacheDBBackup; }
    unsigned GetInstanceBaseVersion() const { return m_instanceBaseVersion; }
    const std::vector<std::string>& GetFailedContentFiles() const { return m_failedContentFiles; }
    const std::vector<std::string>& GetProfilesToBackup() const { return m_profilesToBackup; }
    // True once the content named the cache database: later content entries are not read.
    bool IsContentProcessingStopped() const { return m_contentProcessingStopped; }

    // --- set before Process ---
    void SetNewContentQuery(CNewContentQueryPtr query) { m_newContentQuery = std::move(query); }
    // Overrides the denylist files (tests, or an agent installed elsewhere); "" skips one.
    void SetDenylistFiles(std::string primary, std::string legacy);
    const std::string& GetDenylistFile() const { return m_denylistFile; }
    const std::string& GetLegacyDenylistFile() const { return m_legacyDenylistFile; }
    void SetProfilesToBackup(std::vector<std::string> profiles) { m_profilesToBackup = std::move(profiles); }

    // --- set by the steps and the platform part ---
    void SetSubclientConf(std::shared_ptr<SubclientConf> conf) { m_subclientConf = std::move(conf); }
    void SetCacheDBBackup();
    void StopContentProcessing() { m_contentProcessingStopped = true; }

protected:
    // Installs the platform part (InitializePrivate, or a test's own platform part).
    void SetPrivate(std::unique_ptr<CSubclientContentPrivate> platform);

private:
    // Parses every entry with `parse`, logging "<name> failed, Item=%s, error=%s" for a failure.
    template <typename Parse>
    void ParseEach(const std::vector<std::string>& entries, const char* name, std::vector<std::string>& out,
                   Parse parse, bool stopWithContent = false);
    // Parses one content-file line by the load type.
    CKxError ParseLine(int loadType, const std::string& line, std::vector<std::string>& out);

    std::string m_clientName;
    std::string m_applicationIdText;
    std::string m_subclientName;
    unsigned m_backupLevel;
    CBagPtr m_bag;
    CTimeStamp m_referenceTime;

    std::shared_ptr<ApplicationId> m_applicationId;
    std::shared_ptr<Subclient> m_subclient;
    std::shared_ptr<SubclientConf> m_subclientConf;
    CScanContentConfigurationPtr m_configuration;
    std::unique_ptr<CSubclientContentPrivate> m_private;
    CNewContentQueryPtr m_newContentQuery;

    bool m_loadContentFile = false;
    bool m_defaultSubclient = false;
    bool m_disableSkipOverlapContent = false;
    bool m_cacheDBBackup = false;
    bool m_contentProcessingStopped = false;
    unsigned m_instanceBaseVersion = 11;
    std::vector<std::string> m_profilesToBackup;
    std::vector<std::string> m_failedContentFiles;
    std::set<std::string> m_openContentFiles;  // content files being read (a file may not include itself)
    std::string m_denylistFile = kDenylistFile;
    std::string m_legacyDenylistFile = kLegacyDenylistFile;
};

using CSubclientContentPtr = std::shared_ptr<CSubclientContent>;
