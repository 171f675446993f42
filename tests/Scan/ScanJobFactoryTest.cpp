// The job factory's decisions: application types, command-line rules and their order,
// application-manager rules, agent settings, and the classes each type builds.
#include "Scan/ScanJobTestEnv.h"

#include "Agent/ApplicationId.h"
#include "Scan/Archiving/ArchivingScanJobs.h"
#include "Scan/BlockLevel/SnapBackupScanJobs.h"
#include "Scan/Dirchange/ScanJobFileSystemCallbackSQLiteDirchange.h"
#include "Scan/Dirchange/ScanJobFileSystemSQLiteDirchange.h"
#include "Scan/ScanJobFactory.h"

namespace {

using T = EScanJobType;

class ScanJobFactoryTest : public ScanJobTestEnv {
protected:
    unsigned Identify(const std::vector<std::string>& extra = {})
    {
        return m_factory.IdentifyScanJobType(JobArgs(extra)).Value();
    }
    unsigned FromCommandLine(const std::vector<std::string>& tokens)
    {
        return m_factory.IdentifyScanJobTypeFromCommandLine(Args(tokens)).Value();
    }

    CScanJobFactory m_factory{"inst"};
};

// What the factory builds: the database store for file-system jobs when asked, nothing for an
// application it cannot read or a type without classes.
TEST_F(ScanJobFactoryTest, BuiltJobsAndCallbacks)
{
    for (const auto& [setting, sqlite] : {std::pair{"2", false}, {"1", true}}) {
        Setting("nUseSQLiteDirchange", setting);
        CScanJobFactory factory("inst");
        ASSERT_EQ(factory.IdentifyScanJobType(JobArgs()).Value(), 5u);
        EXPECT_EQ(factory.IsUseSQLite(), sqlite);
        CScanJobCallbackPtr callback = factory.CreateScanJobCallback(T::eFileSystem);
        CScanJobPtr job = factory.CreateScanJob(T::eFileSystem);
        EXPECT_EQ(!!std::dynamic_pointer_cast<CScanJobFileSystemSQLiteDirchange>(job), sqlite);
        EXPECT_EQ(!!std::dynamic_pointer_cast<CScanJobFileSystemCallbackSQLiteDirchange>(callback), sqlite);
        EXPECT_TRUE(sqlite || std::dynamic_pointer_cast<CUnixScanJobCallback>(callback));
    }

    // Only type 5 takes the SQLite store.
    CScanJobFactory snapFactory("inst");
    ASSERT_EQ(snapFactory.IdentifyScanJobType(JobArgs({"-snap"})).Value(), 12u);
    EXPECT_FALSE(snapFactory.IsUseSQLite());

    EXPECT_EQ(m_factory.IdentifyScanJobType(Args({"-vm", "inst", "-j", "7"})).Value(), 0u);  // no -a
    EXPECT_EQ(m_factory.IdentifyScanJobType(Args({"-a", "9:9"})).Value(), 0u);              // no such file
    WriteFile(AppConfigPath("2:5"), "{\"appType\": ");                                      // broken JSON
    EXPECT_EQ(Identify(), 0u);
    EXPECT_EQ(m_factory.IdentifyScanJobType(nullptr).Value(), 0u);

    // Types 1 and 3 have a job but no callback: the driver fails their phase.
    for (unsigned type : {0u, 1u, 3u, 4u, 10u, 18u, 21u, 45u, 46u, 47u, 99u}) {
        EXPECT_EQ(!!m_factory.CreateScanJob(EScanJobType::FromNumber(type)), type == 1 || type == 3) << type;
        EXPECT_FALSE(m_factory.CreateScanJobCallback(EScanJobType::FromNumber(type))) << type;
    }
    CScanJobPtr archiving = m_factory.CreateScanJob(T::eArchiving);
    ASSERT_TRUE(std::dynamic_pointer_cast<CUnixScanJobFileSystemTandem>(archiving));
    EXPECT_EQ(archiving->GetInstance(), "inst");
    EXPECT_TRUE(std::dynamic_pointer_cast<CScanFileSystemTandemJobCallback>(m_factory.CreateScanJobCallback(T::eArchiving)));
    // A snapshot backup without a scan is not a file-system job; its catalog is.
    EXPECT_FALSE(std::dynamic_pointer_cast<CScanJobFileSystem>(m_factory.CreateScanJob(T::eSnapBackup)));
    EXPECT_EQ(m_factory.CreateScanJob(T::eSnapDiffCatalog)->AsString(), "ScanJob/FileSystem/SnapCatalog");
}

TEST_F(ScanJobFactoryTest, CommandLineRulesFirstMatchWins)
{
    const struct {
        std::vector<std::string> tokens;
        unsigned expected;
        std::vector<std::pair<const char*, const char*>> settings = {};
    } cases[] = {
        {{}, 0}, {{"-snap", "-BlockLevel", "-snaptape", "-dcs"}, 36},  // block-level catalog wins over snaptape
        {{"-snaptape", "-attrEx", "1"}, 37}, {{"-snaptape", "-attrEx", "0"}, 11},
        {{"-snaptape", "-attrEx", "0x10"}, 37}, {{"-snaptape", "-attrEx"}, 11},  // no value
        {{"-snaptape", "-attrEx", "1", "-dcs"}, 37}, {{"-snaptape", "-dcs"}, 48}, {{"-snaptape", "-snap"}, 11},
        {{"-snap", "-dc"}, 30}, {{"-snap", "-stub"}, 12}, {{"-snap"}, 12}, {{"-stub", "-fla"}, 45},
        {{"-stub", "-synthFull"}, 46}, {{"-rpId", "1", "-rpJId", "2", "-fla"}, 18}, {{"-rpId", "1"}, 0},
        {{"-fla", "-vmCI"}, 32}, {{"-vmCI", "-vmCatalog"}, 34}, {{"-vmCatalog"}, 35}, {{"-BlkOfflineCat", "-emg"}, 51},
        {{"-emg"}, 0},  // needs the object-store setting
        {{"-pkg", "Solr"}, 53}, {{"-pkg", "solr"}, 53}, {{"-pkg", "SOLR", "-SolrC"}, 33}, {{"-pkg", "Solr2"}, 0},
        {{"-pkg", "Hadoop"}, 0}, {{"-BlockLevel"}, 0},
        // Agent settings steer some rules; a delayed catalog leaves the block-level one alone.
        {{"-snaptape"}, 12, {{"nDelayCatalog", "1"}}}, {{"-snaptape", "-attrEx", "3"}, 36, {{"nDelayCatalog", "1"}}},
        {{"-snaptape", "-dcs"}, 48, {{"nDelayCatalog", "1"}}}, {{"-snaptape"}, 11, {{"nDelayCatalog", "0"}}},
        {{"-emg"}, 0, {{"nObjectStoreMigration", "2"}}}, {{"-emg"}, 50, {{"nObjectStoreMigration", "1"}}},
        {{"-emg", "-pkg", "Solr"}, 50, {{"nObjectStoreMigration", "1"}}},
    };
    for (const auto& c : cases) {
        m_settings = std::make_shared<CMemorySettingsStore>();
        ZVPlatformInfo::Install(m_settings);
        for (const auto& [key, value] : c.settings)
            Setting(key, value);
        std::string shown;
        for (const std::string& token : c.tokens)
            shown += token + " ";
        EXPECT_EQ(FromCommandLine(c.tokens), c.expected) << shown;
    }
}

TEST_F(ScanJobFactoryTest, ApplicationSettingsAndOptionsTogether)
{
    const struct {
        int appType;
        const char* subclient;  // further subclient members
        const char* client;     // further client members
        const char* backupSetKind;
        std::vector<std::pair<const char*, const char*>> settings;
        std::vector<std::string> options;
        unsigned expected;
    } cases[] = {
        // Application types alone.
        {29, "", "", "", {}, {}, 5}, {17, "", "", "", {}, {}, 5}, {106, "", "", "", {}, {}, 5},
        {1000, "", "", "", {}, {}, 2}, {124, "", "", "", {}, {}, 15}, {33, "", "", "", {}, {}, 3},
        {43, "", "", "", {}, {}, 3}, {77, "", "", "", {}, {}, 0}, {0, "", "", "", {}, {}, 0},
        {38, "", "\"proxyClientId\": 7", "", {}, {}, 16}, {38, "", "", "", {}, {}, 0},
        {38, "", "\"proxyClientId\": -1", "", {}, {}, 0},
        // Block-level application types only with block-level backup on the subclient; they follow the
        // options, then the application manager.
        {5, "", "", "", {}, {}, 0}, {5, "\"blockLevelBackup\": 2", "", "", {}, {}, 0},
        {22, "\"blockLevelBackup\": 1", "", "", {}, {}, 0}, {5, "\"blockLevelBackup\": 1", "", "", {}, {"-snap"}, 12},
        {5, "\"blockLevelBackup\": 1", "", "", {}, {}, 0},
        {80, "\"blockLevelBackup\": 1, \"ddbBackup\": true", "", "", {}, {}, 17},
        // The extent application type needs its setting.
        {135, "", "", "", {}, {}, 0}, {135, "", "", "", {{"bEnableFileExtentBackup", "0"}}, {}, 0},
        {135, "", "", "", {{"bEnableFileExtentBackup", "1"}}, {}, 54},
        // A stub job on a file-system type is an archiving job; deleting needs setting and subclient.
        {29, "", "", "", {}, {"-stub"}, 42}, {29, "", "", "", {}, {"-stub", "-synthFull"}, 47},
        {29, "", "", "", {{"DeleteFileJob", "1"}}, {"-stub"}, 42},
        {29, "\"deleteFilesWithoutBackup\": 1", "", "", {{"DeleteFileJob", "1"}}, {"-stub"}, 55},
        {64, "\"deleteFilesWithoutBackup\": 1", "", "", {{"DeleteFileJob", "1"}}, {"-stub"}, 55},
        {64, "\"deleteFilesWithoutBackup\": 1", "", "", {{"DeleteFileJob", "2"}}, {"-stub"}, 42},
        // Application type 64 keeps content indexing, otherwise it is a file-system job.
        {64, "", "", "", {}, {"-pkg", "solr"}, 53}, {64, "", "", "", {}, {"-pkg", "Solr", "-SolrC"}, 33},
        {64, "", "", "", {}, {"-fla"}, 5}, {64, "", "", "", {}, {"-snap"}, 5}, {64, "", "", "", {}, {}, 5},
        // Application-manager rules come after the options: backup set, then subclient, then client.
        {29, "", "", "rejected", {}, {}, 10}, {29, "", "", "rejected", {}, {"-fla"}, 32},
        {29, "", "", "onDemand", {}, {}, 8}, {29, "\"ddbBackup\": true", "", "", {}, {}, 17},
        {29, "", "\"quillbox\": true", "", {}, {}, 21},
        {29, "\"ddbBackup\": true", "\"quillbox\": true", "onDemand", {}, {}, 8},
        // File analytics is the last resort; present counts, whatever its value.
        {29, "", "", "", {{"RunFileAnalytics", "0"}}, {}, 32},
        {29, "", "", "", {{"RunFileAnalytics", "0"}}, {"-snap"}, 12},
        {29, "", "", "onDemand", {{"RunFileAnalytics", "0"}}, {}, 8},
        {42, "", "", "", {{"RunFileAnalytics", "0"}}, {}, 32},
        // A snapshot catalog of other types checks for direct copy (none here: the fallback applies).
        {33, "", "", "", {}, {"-snap"}, 3}, {33, "\"snapEngine\": 81", "", "", {}, {"-snap"}, 52},
        {34, "", "", "", {{"RunSnapCatalogDirectIndex", "0"}}, {"-snap"}, 52},
        {34, "", "", "", {{"RunSnapCatalogDirectIndex", "0"}}, {"-snap", "-dc"}, 30},  // only the plain catalog
    };
    for (const auto& c : cases) {
        m_settings = std::make_shared<CMemorySettingsStore>();
        ZVPlatformInfo::Install(m_settings);
        WriteApp("2:5", c.appType, true, c.subclient, c.client, c.backupSetKind);
        for (const auto& [key, value] : c.settings)
            Setting(key, value);
        std::string shown = std::to_string(c.appType) + " " + c.subclient + c.client + c.backupSetKind;
        for (const std::string& option : c.options)
            shown += " " + option;
        EXPECT_EQ(Identify(c.options), c.expected) << shown;  // one factory: nothing read earlier sticks
    }
}

}  // namespace
