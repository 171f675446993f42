// The job factory's decisions: application types, command-line rules and their order,
// application-manager rules, agent settings, and the classes each type builds.
#include "Scan/ScanJobTestEnv.h"

#include "Agent/ApplicationId.h"
#include "Scan/Archiving/ArchivingScanJobs.h"
#include "Scan/BlockLevel/SnapBackupScanJobs.h"
#include "Scan/Dirchange/SQLiteDirchangeScanJobs.h"
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

TEST_F(ScanJobFactoryTest, ApplicationTypesChooseTheirJobTypes)
{
    struct Case {
        int appType;
        std::string subclientExtra;
        std::string clientExtra;
        unsigned expected;
    };
    const std::vector<Case> cases = {
        {29, "", "", 5},    {17, "", "", 5},    {106, "", "", 5},  {1000, "", "", 2},
        {124, "", "", 15},  {64, "", "", 5},    {33, "", "", 3},   {43, "", "", 3},
        {38, "", "\"proxyClientId\": 7", 16},   {38, "", "", 0},   {38, "", "\"proxyClientId\": -1", 0},
        {135, "", "", 0},   {77, "", "", 0},    {0, "", "", 0},
        // Block-level application types only with block-level backup on the subclient.
        {5, "", "", 0},     {5, "\"blockLevelBackup\": 2", "", 0}, {22, "\"blockLevelBackup\": 1", "", 0},
    };
    for (const Case& c : cases) {
        WriteApp("2:5", c.appType, true, c.subclientExtra, c.clientExtra);
        CScanJobFactory factory("inst");
        EXPECT_EQ(factory.IdentifyScanJobType(JobArgs()).Value(), c.expected)
            << "appType " << c.appType << " " << c.subclientExtra << c.clientExtra;
    }
}

TEST_F(ScanJobFactoryTest, UnreadableApplicationYieldsUndetermined)
{
    EXPECT_EQ(m_factory.IdentifyScanJobType(Args({"-vm", "inst", "-j", "7"})).Value(), 0u);  // no -a
    EXPECT_EQ(m_factory.IdentifyScanJobType(Args({"-a", "9:9"})).Value(), 0u);              // no such file
    WriteFile(AppConfigPath("2:5"), "{\"appType\": ");                                      // broken JSON
    EXPECT_EQ(Identify(), 0u);
    EXPECT_EQ(m_factory.IdentifyScanJobType(nullptr).Value(), 0u);
}

TEST_F(ScanJobFactoryTest, BlockLevelApplicationTypesFollowTheOptionsThenTheApplicationManager)
{
    WriteApp("2:5", 5, true, "\"blockLevelBackup\": 1");
    EXPECT_EQ(Identify({"-snap"}), 12u);
    EXPECT_EQ(Identify(), 0u);
    WriteApp("2:5", 80, true, "\"blockLevelBackup\": 1, \"ddbBackup\": true");
    EXPECT_EQ(Identify(), 17u);
}

TEST_F(ScanJobFactoryTest, ExtentApplicationTypeNeedsItsSetting)
{
    WriteApp("2:5", 135);
    EXPECT_EQ(Identify(), 0u);
    Setting("bEnableFileExtentBackup", "0");
    EXPECT_EQ(Identify(), 0u);
    Setting("bEnableFileExtentBackup", "1");
    EXPECT_EQ(Identify(), 54u);
}

TEST_F(ScanJobFactoryTest, CommandLineRulesFirstMatchWins)
{
    struct Case {
        std::vector<std::string> tokens;
        unsigned expected;
    };
    const std::vector<Case> cases = {
        {{}, 0},
        {{"-snap", "-BlockLevel", "-snaptape", "-dcs"}, 36},  // block-level catalog wins over snaptape
        {{"-snaptape", "-attrEx", "1"}, 37},
        {{"-snaptape", "-attrEx", "0"}, 11},
        {{"-snaptape", "-attrEx", "0x10"}, 37},
        {{"-snaptape", "-attrEx"}, 11},  // no value
        {{"-snaptape", "-attrEx", "1", "-dcs"}, 37},
        {{"-snaptape", "-dcs"}, 48},
        {{"-snaptape", "-snap"}, 11},
        {{"-snap", "-dc"}, 30},
        {{"-snap", "-stub"}, 12},
        {{"-snap"}, 12},
        {{"-stub", "-fla"}, 45},
        {{"-stub", "-synthFull"}, 46},
        {{"-rpId", "1", "-rpJId", "2", "-fla"}, 18},
        {{"-rpId", "1"}, 0},
        {{"-fla", "-vmCI"}, 32},
        {{"-vmCI", "-vmCatalog"}, 34},
        {{"-vmCatalog"}, 35},
        {{"-BlkOfflineCat", "-emg"}, 51},
        {{"-emg"}, 0},  // needs the object-store setting
        {{"-pkg", "Solr"}, 53},
        {{"-pkg", "solr"}, 53},
        {{"-pkg", "SOLR", "-SolrC"}, 33},
        {{"-pkg", "Solr2"}, 0},
        {{"-pkg", "Hadoop"}, 0},
        {{"-BlockLevel"}, 0},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& token : c.tokens)
            shown += token + " ";
        EXPECT_EQ(FromCommandLine(c.tokens), c.expected) << shown;
    }
}

TEST_F(ScanJobFactoryTest, SettingsSteerTheCommandLineRules)
{
    Setting("nDelayCatalog", "1");
    EXPECT_EQ(FromCommandLine({"-snaptape"}), 12u);
    EXPECT_EQ(FromCommandLine({"-snaptape", "-attrEx", "3"}), 36u);
    EXPECT_EQ(FromCommandLine({"-snaptape", "-dcs"}), 48u);  // delayed catalog does not change it
    Setting("nDelayCatalog", "0");
    EXPECT_EQ(FromCommandLine({"-snaptape"}), 11u);

    Setting("nObjectStoreMigration", "2");
    EXPECT_EQ(FromCommandLine({"-emg"}), 0u);
    Setting("nObjectStoreMigration", "1");
    EXPECT_EQ(FromCommandLine({"-emg"}), 50u);
    EXPECT_EQ(FromCommandLine({"-emg", "-pkg", "Solr"}), 50u);
}

TEST_F(ScanJobFactoryTest, StubOnFileSystemTypesBecomesAnArchivingJob)
{
    EXPECT_EQ(Identify({"-stub"}), 42u);
    EXPECT_EQ(Identify({"-stub", "-synthFull"}), 47u);

    Setting("DeleteFileJob", "1");
    EXPECT_EQ(Identify({"-stub"}), 42u);  // subclient does not ask for deletion
    WriteApp("2:5", 29, true, "\"deleteFilesWithoutBackup\": 1");
    EXPECT_EQ(Identify({"-stub"}), 55u);
    WriteApp("2:5", 64, true, "\"deleteFilesWithoutBackup\": 1");
    EXPECT_EQ(Identify({"-stub"}), 55u);
    Setting("DeleteFileJob", "2");
    EXPECT_EQ(Identify({"-stub"}), 42u);
}

TEST_F(ScanJobFactoryTest, ApplicationType64KeepsContentIndexingOtherwiseFileSystem)
{
    WriteApp("2:5", 64);
    EXPECT_EQ(Identify({"-pkg", "solr"}), 53u);
    EXPECT_EQ(Identify({"-pkg", "Solr", "-SolrC"}), 33u);
    EXPECT_EQ(Identify({"-fla"}), 5u);
    EXPECT_EQ(Identify({"-snap"}), 5u);
    EXPECT_EQ(Identify(), 5u);
}

TEST_F(ScanJobFactoryTest, ApplicationManagerRulesFollowTheOptions)
{
    WriteApp("2:5", 29, true, "", "", "rejected");
    EXPECT_EQ(Identify(), 10u);
    EXPECT_EQ(Identify({"-fla"}), 32u);  // an option decides before the backup set is asked
    WriteApp("2:5", 29, true, "", "", "onDemand");
    EXPECT_EQ(Identify(), 8u);
    WriteApp("2:5", 29, true, "\"ddbBackup\": true");
    EXPECT_EQ(Identify(), 17u);
    WriteApp("2:5", 29, true, "", "\"quillbox\": true");
    EXPECT_EQ(Identify(), 21u);
    WriteApp("2:5", 29, true, "\"ddbBackup\": true", "\"quillbox\": true", "onDemand");
    EXPECT_EQ(Identify(), 8u);  // backup set before subclient before client
}

TEST_F(ScanJobFactoryTest, FileAnalyticsSettingIsTheLastResort)
{
    Setting("RunFileAnalytics", "0");  // present counts, whatever its value
    EXPECT_EQ(Identify(), 32u);
    EXPECT_EQ(Identify({"-snap"}), 12u);
    WriteApp("2:5", 29, true, "", "", "onDemand");
    EXPECT_EQ(Identify(), 8u);
    WriteApp("2:5", 42);
    EXPECT_EQ(Identify(), 32u);
}

TEST_F(ScanJobFactoryTest, SnapshotCatalogOfOtherApplicationTypesChecksForDirectCopy)
{
    WriteApp("2:5", 33);
    EXPECT_EQ(Identify({"-snap"}), 3u);  // no direct copy: the check answers 0 and the fallback applies
    WriteApp("2:5", 33, true, "\"snapEngine\": 81");
    EXPECT_EQ(Identify({"-snap"}), 52u);
    WriteApp("2:5", 34);
    Setting("RunSnapCatalogDirectIndex", "0");
    EXPECT_EQ(Identify({"-snap"}), 52u);
    EXPECT_EQ(Identify({"-snap", "-dc"}), 30u);  // only the plain catalog is checked
}

TEST_F(ScanJobFactoryTest, SQLiteSettingSwitchesTheFileSystemJobAndCallback)
{
    Setting("nUseSQLiteDirchange", "2");
    ASSERT_EQ(Identify(), 5u);
    EXPECT_FALSE(m_factory.IsUseSQLite());
    CScanJobPtr job = m_factory.CreateScanJob(T::eFileSystem);
    CScanJobCallbackPtr callback = m_factory.CreateScanJobCallback(T::eFileSystem);
    EXPECT_FALSE(std::dynamic_pointer_cast<CScanJobFileSystemSQLiteDirchange>(job));
    EXPECT_FALSE(std::dynamic_pointer_cast<CScanJobFileSystemCallbackSQLiteDirchange>(callback));
    EXPECT_TRUE(std::dynamic_pointer_cast<CUnixScanJobCallback>(callback));

    Setting("nUseSQLiteDirchange", "1");
    CScanJobFactory factory("inst");
    ASSERT_EQ(factory.IdentifyScanJobType(JobArgs()).Value(), 5u);
    EXPECT_TRUE(factory.IsUseSQLite());
    EXPECT_TRUE(std::dynamic_pointer_cast<CScanJobFileSystemSQLiteDirchange>(factory.CreateScanJob(T::eFileSystem)));
    EXPECT_TRUE(std::dynamic_pointer_cast<CScanJobFileSystemCallbackSQLiteDirchange>(
        factory.CreateScanJobCallback(T::eFileSystem)));

    // Only type 5 takes the SQLite store.
    CScanJobFactory snapFactory("inst");
    ASSERT_EQ(snapFactory.IdentifyScanJobType(JobArgs({"-snap"})).Value(), 12u);
    EXPECT_FALSE(snapFactory.IsUseSQLite());
}

TEST_F(ScanJobFactoryTest, TypesWithoutClassesBuildNothing)
{
    // Types 1 and 3 have a job but no callback: the driver fails their phase.
    for (unsigned type : {1u, 3u}) {
        EXPECT_TRUE(m_factory.CreateScanJob(EScanJobType::FromNumber(type))) << type;
        EXPECT_FALSE(m_factory.CreateScanJobCallback(EScanJobType::FromNumber(type))) << type;
    }
    for (unsigned type : {0u, 4u, 10u, 18u, 21u, 45u, 46u, 47u, 99u}) {
        EXPECT_FALSE(m_factory.CreateScanJob(EScanJobType::FromNumber(type))) << type;
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

TEST_F(ScanJobFactoryTest, AppTypeIsReadFromTheApplication)
{
    unsigned long appType = 0;
    ASSERT_TRUE(m_factory.GetAppType(JobArgs(), appType).IsSuccess());
    EXPECT_EQ(appType, 29u);

    CKxError missing = m_factory.GetAppType(Args({"-j", "7"}), appType);
    ASSERT_TRUE(missing.IsError());
    EXPECT_NE(missing.AsString().find("GetApplicationId failed"), std::string::npos);

    CKxError unknown = m_factory.GetAppType(Args({"-a", "3:3"}), appType);
    ASSERT_TRUE(unknown.IsError());
    EXPECT_NE(unknown.AsString().find("getApplicationId failed, ApplicationId=3:3"), std::string::npos);
}

}  // namespace
