// The job factory's decisions: application types, command-line rules and their order,
// application-manager rules, agent settings, and the classes each type builds.
#include "Scan/ScanJobTestEnv.h"

#include "Agent/ApplicationId.h"
#include "Scan/AnalyticsScanJobs.h"
#include "Scan/Archiving/ArchivingScanJobs.h"
#include "Scan/ArchivumCallback.h"
#include "Scan/BlockLevel/SnapBackupScanJobs.h"
#include "Scan/BlockLevel/SnapCatalogScanJobs.h"
#include "Scan/ContentIndexScanJobs.h"
#include "Scan/Dirchange/SQLiteDirchangeScanJobs.h"
#include "Scan/ObjectStoreMigrationScanJobs.h"
#include "Scan/OnDemandScanJobs.h"
#include "Scan/ScanJobDDB.h"
#include "Scan/ScanJobFactory.h"
#include "Scan/ScanJobProxyClient.h"
#include "Scan/SnapDiff/SnapDiffScanJobs.h"

#include <functional>

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

TEST_F(ScanJobFactoryTest, EveryTypeBuildsItsClassesOnTheirBases)
{
    using JobCheck = std::function<bool(const CScanJobPtr&)>;
    using CallbackCheck = std::function<bool(const CScanJobCallbackPtr&)>;
    auto job = [](auto* tag) -> JobCheck {
        using J = std::remove_pointer_t<decltype(tag)>;
        return [](const CScanJobPtr& p) { return p && typeid(*p) == typeid(J); };
    };
    auto callback = [](auto* tag) -> CallbackCheck {
        using C = std::remove_pointer_t<decltype(tag)>;
        return [](const CScanJobCallbackPtr& p) { return p && typeid(*p) == typeid(C); };
    };
    const JobCheck noJob = [](const CScanJobPtr& p) { return !p; };
    const CallbackCheck noCallback = [](const CScanJobCallbackPtr& p) { return !p; };
    struct Case {
        unsigned type;
        JobCheck jobCheck;
        CallbackCheck callbackCheck;
    };
    const std::vector<Case> cases = {
        {0, noJob, noCallback},
        {1, job((CScanJobClientOnDemand*)nullptr), noCallback},
        {2, job((CScanJobFileSystem*)nullptr), callback((CUnixScanJobCallback*)nullptr)},
        {3, job((CScanJobFileSystem*)nullptr), noCallback},
        {5, job((CScanJobFileSystem*)nullptr), callback((CUnixScanJobCallback*)nullptr)},
        {8, job((CScanJobOnDemand*)nullptr), callback((CUnixScanJobOnDemandCallback*)nullptr)},
        {10, noJob, noCallback},
        {11, job((CScanJobSnapBackup*)nullptr), callback((CScanJobSnapBackupCallback*)nullptr)},
        {12, job((CScanJobSnapCatalog*)nullptr), callback((CScanJobSnapCatalogCallback*)nullptr)},
        {15, job((CScanJobFileSystem*)nullptr), callback((ArchivumCallback*)nullptr)},
        {16, job((CScanJobProxyClient*)nullptr), callback((CScanJobCallbackProxyClient*)nullptr)},
        {17, job((CScanJobDDB*)nullptr), callback((CScanJobDDBCallback*)nullptr)},
        {18, noJob, noCallback},
        {21, noJob, noCallback},
        {30, job((CScanJobSnapDeferredCatalog*)nullptr), callback((CScanJobSnapDeferredCatalogCallback*)nullptr)},
        {32, job((CScanJobAnalytics*)nullptr), callback((CScanJobAnalyticsCallback*)nullptr)},
        {33, job((CScanJobSolrCloud*)nullptr), callback((CScanJobCallbackSolrCloud*)nullptr)},
        {34, job((CScanJobVSAAnalytics*)nullptr), callback((CScanJobVSAAnalyticsCallback*)nullptr)},
        {35, job((CScanJobVSAAnalytics*)nullptr), callback((CScanJobVSAAnalyticsCallback*)nullptr)},
        {36, job((CScanJobSnapCatalogBlockLevel*)nullptr), callback((CScanJobSnapCatalogCallbackBlockLevel*)nullptr)},
        {37, job((CScanJobSnapBackupBlockLevel*)nullptr), callback((CScanJobSnapBackupCallbackBlockLevel*)nullptr)},
        {42, job((CUnixScanJobFileSystemTandem*)nullptr), callback((CScanFileSystemTandemJobCallback*)nullptr)},
        {44, job((CScanJobSnapCatalogSnapDiff*)nullptr), callback((CScanJobSnapCatalogSnapDiffCallback*)nullptr)},
        {45, noJob, noCallback},
        {46, noJob, noCallback},
        {47, noJob, noCallback},
        {48, job((CScanJobSnapBackupWithScan*)nullptr), callback((CScanJobSnapBackupWithScanCallback*)nullptr)},
        {50, job((CScanJobObjectStoreMigration*)nullptr), callback((CScanJobObjectStoreMigrationCallback*)nullptr)},
        {51, job((CScanJobBlkLvlCatalog*)nullptr), callback((CScanJobBlkLvlCatalogCallback*)nullptr)},
        {52, job((CScanJobSnapCatalogDirectCopy*)nullptr), callback((CScanJobSnapCatalogDirectIndexCallback*)nullptr)},
        {53, job((CScanJobZvSolr*)nullptr), callback((CScanJobCallbackZvSolr*)nullptr)},
        {54, job((CScanJobSnapBackupWithScanDB*)nullptr), callback((CScanJobSnapBackupWithScanCallbackDB*)nullptr)},
        {55, job((CScanJobFileArchivingDelete*)nullptr), callback((CScanJobFileArchivingDeleteCallback*)nullptr)},
        {4, noJob, noCallback},
        {99, noJob, noCallback},
    };
    for (const Case& c : cases) {
        const EScanJobType type = EScanJobType::FromNumber(c.type);
        CScanJobPtr created = m_factory.CreateScanJob(type);
        EXPECT_TRUE(c.jobCheck(created)) << "job of type " << c.type;
        EXPECT_TRUE(c.callbackCheck(m_factory.CreateScanJobCallback(type))) << "callback of type " << c.type;
        if (created) {
            EXPECT_EQ(created->GetInstance(), "inst") << c.type;
        }
    }
}

TEST_F(ScanJobFactoryTest, JobFamiliesDeriveFromTheirBases)
{
    // Jobs that walk a file system derive from the file-system job; the rest only from the base.
    for (unsigned type : {8u, 12u, 16u, 30u, 32u, 33u, 36u, 42u, 44u, 48u, 51u, 52u, 53u, 54u, 55u})
        EXPECT_TRUE(std::dynamic_pointer_cast<CScanJobFileSystem>(m_factory.CreateScanJob(EScanJobType::FromNumber(type))))
            << type;
    for (unsigned type : {1u, 11u, 17u, 37u, 50u})
        EXPECT_FALSE(std::dynamic_pointer_cast<CScanJobFileSystem>(m_factory.CreateScanJob(EScanJobType::FromNumber(type))))
            << type;
    EXPECT_EQ(m_factory.CreateScanJob(T::eSnapCatalog)->AsString(), "ScanJob/FileSystem/SnapCatalog");
    EXPECT_EQ(m_factory.CreateScanJob(T::eSnapDiffCatalog)->AsString(), "ScanJob/FileSystem/SnapCatalog");
    EXPECT_EQ(m_factory.CreateScanJob(T::eFileSystem)->AsString(), "ScanJob/FileSystem");
    EXPECT_EQ(m_factory.CreateScanJob(T::eDedupDatabase)->AsString(), "ScanJob");
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

TEST(ScanJobType, NamesAndValues)
{
    EXPECT_EQ(EScanJobType().Value(), 0u);
    EXPECT_EQ(EScanJobType(T::eFileSystem).AsString(), "FileSystem(5)");
    EXPECT_EQ(EScanJobType::FromNumber(99).AsString(), "Unknown(99)");
    EScanJobType type;
    type = T::eArchiving;
    EXPECT_TRUE(type.IsSelected(T::eArchiving));
    EXPECT_FALSE(type.IsSelected(T::eFileSystem));
    EXPECT_EQ(static_cast<T::ENUM>(type), T::eArchiving);
}

}  // namespace
