#include "Agent/ApplicationId.h"
#include "Agent/AutoStreamHandler.h"
#include "Agent/DistributedSubclient.h"
#include "Agent/GPFSSubclient.h"
#include "Agent/IndexingVersion.h"
#include "Agent/OvaBackup.h"
#include "Agent/ZVPI_CommClient.h"
#include "AgentTestEnv.h"

namespace {

// The plain values of the other keys are read back where the scanner options and the job factory
// carry them into the job (tests/Scan).
const char* kFullConfig = R"({
  "appType": 29, "indexV2": true, "client": { "id": 2, "name": "client1" },
  "backupSet": { "name": "defaultBackupSet", "default": true, "kind": "onDemand" },
  "subclient": {
    "id": 5, "name": "sc1", "default": true, "content": ["/data", "/home"],
    "filters": ["*.tmp"], "filterExceptions": ["/data/keep"], "fileNameContent": ["*.doc"],
    "fileNameFilters": ["core"], "otherSubclientsContent": ["/data/other"]
  }
})";

class ApplicationConfigTest : public AgentTestEnv {
protected:
    // Writes `json` as application 1:<app> and answers the load result.
    CKxError LoadApp(const std::string& json, std::string app = "9")
    {
        WriteFile(AppConfigPath("1:" + app), json);
        m_app = std::make_shared<ApplicationId>("1:" + app);
        return m_app->getApplicationId();
    }

    ApplicationIdPtr m_app;
};

// What is mapped: the filter kinds, the kinds of backup set, the derived subclient type.
TEST_F(ApplicationConfigTest, FullConfigurationMapsEveryList)
{
    ASSERT_TRUE(LoadApp(kFullConfig, "5").IsSuccess());
    EXPECT_EQ(std::dynamic_pointer_cast<DistributedSubclient>(m_app->getSubclient()), nullptr);
    SubclientConfPtr conf = m_app->getSubclientConf();
    ASSERT_TRUE(conf);
    std::vector<std::string> list;
    EXPECT_TRUE(conf->nodirs(list).IsSuccess());
    EXPECT_EQ(list, (std::vector<std::string>{"/data/other"}));
    const std::pair<int, const char*> filterKinds[] = {{SubclientConf::YESDIRS, "/data/keep"},
                                                       {SubclientConf::NODIRS, "*.tmp"},
                                                       {SubclientConf::YESFILES, "*.doc"},
                                                       {SubclientConf::NOFILES, "core"}};
    for (const auto& [kind, pattern] : filterKinds) {
        EXPECT_TRUE(conf->getFilters2(kind, list).IsSuccess());
        EXPECT_EQ(list, (std::vector<std::string>{pattern})) << kind;
    }
    EXPECT_EQ(conf->getFilters2(0, list).Code(), KxCode::InvalidParameter);
    bool rejected = true, onDemand = false;
    EXPECT_TRUE(m_app->getBackupSet()->isRejectedKind(rejected).IsSuccess());
    EXPECT_TRUE(m_app->getBackupSet()->isOnDemandKind(onDemand).IsSuccess());
    EXPECT_FALSE(rejected);
    EXPECT_TRUE(onDemand);
}

TEST_F(ApplicationConfigTest, AbsentKeysTakeTheirDefaults)
{
    ASSERT_TRUE(LoadApp(R"({"appType": 29, "subclient": {"numStreams": null}, "client": {}})").IsSuccess());
    EXPECT_EQ(m_app->getSubclient()->Data().numStreams, 1u);
    // A section that is not configured at all is a failure of the getter, not of the load.
    EXPECT_EQ(m_app->getBackupSet(), nullptr);
    EXPECT_EQ(m_app->getLastErrorCode(), KxCode::UnknownProduct);
    EXPECT_NE(m_app->getLastError().AsString().find("backupSet"), std::string::npos);
}

TEST_F(ApplicationConfigTest, DistributedSubclientsNarrowByClusterType)
{
    ASSERT_TRUE(LoadApp(R"({"appType": 29, "subclient": {"distributed": {"clusterType": 3, "useGpfsSnapshot": true}}})",
                        "1")
                    .IsSuccess());
    auto gpfs = std::dynamic_pointer_cast<GPFSSubclient>(m_app->getSubclient());
    ASSERT_TRUE(gpfs);
    bool use = false;
    EXPECT_TRUE(gpfs->isUseGpfsSnapshot(use).IsSuccess());
    EXPECT_TRUE(use);
    ASSERT_TRUE(LoadApp(R"({"appType": 29, "subclient": {"distributed": {}}})", "3").IsSuccess());
    auto unknownType = std::dynamic_pointer_cast<DistributedSubclient>(m_app->getSubclient());
    ASSERT_TRUE(unknownType);
    EXPECT_FALSE(std::dynamic_pointer_cast<GPFSSubclient>(unknownType));
    int type = 5;
    EXPECT_TRUE(unknownType->getClusterType(type).IsSuccess());
    EXPECT_EQ(type, 0);
}

TEST_F(ApplicationConfigTest, MissingFileIsAnErrorNamingThePath)
{
    ApplicationId app("1:404");
    CKxError load = app.getApplicationId();
    ASSERT_TRUE(load.IsError());
    EXPECT_EQ(load.Code(), ENOENT);
    EXPECT_NE(load.AsString().find(AppConfigPath("1:404")), std::string::npos) << load.AsString();
    // Every later query fails the same way without touching the disk again.
    WriteFile(AppConfigPath("1:404"), R"({"appType": 29})");
    unsigned long appType = 0;
    EXPECT_EQ(app.getAppType(appType).Code(), ENOENT);
    EXPECT_EQ(app.getSubclient(), nullptr);
    EXPECT_EQ(app.getLastErrorCode(), ENOENT);

    // Queries without an explicit load load by themselves.
    ApplicationId lazy("1:404");
    EXPECT_TRUE(lazy.getAppType(appType).IsSuccess());
    EXPECT_EQ(appType, 29u);
}

TEST_F(ApplicationConfigTest, SyntaxErrorsReportLineAndColumn)
{
    struct Case {
        const char* json;
        const char* where;
    } cases[] = {
        {"{\n  \"appType\": 29,\n  \"client\": {,\n}", "line 3, column 14"},
        {"", "line 1, column 1"},
        {"{\"appType\": 29, \"client\": {\"name\": \"unterminated}}", "line 1, column 51"},
        {"{\"appType\": 29}\n\n  x", "line 3, column 3"},
        {"{\"appType\": 29,}", "line 1, column 16"},
        {"{\"appType\": 29, \"subclient\": {\"content\": [\"/a\" \"/b\"]}}", "line 1, column 51"},
    };
    int app = 100;
    for (const Case& c : cases) {
        CKxError load = LoadApp(c.json, std::to_string(++app));
        ASSERT_TRUE(load.IsError()) << c.json;
        EXPECT_EQ(load.Code(), KxCode::InvalidData);
        EXPECT_NE(load.AsString().find(c.where), std::string::npos) << c.json << " -> " << load.AsString();
        EXPECT_NE(load.AsString().find(AppConfigPath("1:" + std::to_string(app))), std::string::npos);
    }
}

// One line an operator can act on: the file, the key, the value found and what was expected.
TEST_F(ApplicationConfigTest, WrongValuesNameFileKeyValueAndExpectation)
{
    struct Case {
        std::string json;
        std::string message;  // after "<file>: "
    } cases[] = {
        {R"({"appType": "29"})", R"(key "appType" is "29", expected an integer from 0 to 18446744073709551615)"},
        {R"({"appType": 29.5})", R"(key "appType" is 29.5, expected an integer)"},
        {R"({"appType": 29, "indexV2": 1})", R"(key "indexV2" is 1, expected true or false)"},
        {R"({"appType": 29, "client": {"id": -2}})", R"(key "client.id" is -2, expected an integer from 0 to)"},
        {R"({"appType": 29, "client": []})", R"(key "client" is [], expected an object)"},
        {R"({"appType": 29, "backupSet": {"kind": "weird"}})",
         R"(key "backupSet.kind" is "weird", expected "", "rejected" or "onDemand")"},
        {R"({"appType": 29, "subclient": {"numStreams": 0}})",
         R"(key "subclient.numStreams" is 0, expected an integer from 1 to 1000)"},
        {R"({"appType": 29, "subclient": {"numStreams": 1001}})", R"(key "subclient.numStreams" is 1001, expected)"},
        {R"({"appType": 29, "subclient": {"folderLevelThreads": 257}})",
         R"(key "subclient.folderLevelThreads" is 257, expected an integer from 0 to 256)"},
        {R"({"appType": 29, "subclient": {"content": "/data"}})",
         R"(key "subclient.content" is "/data", expected an array of strings)"},
        {R"({"appType": 29, "subclient": {"content": ["/data", 7]}})", R"(key "subclient.content" is ["/data",7])"},
        {R"({"appType": 29, "subclient": {"distributed": {"clusterType": 3000000000}}})",
         R"(key "subclient.distributed.clusterType" is 3000000000, expected an integer from -2147483648 to 2147483647)"},
        // A long value is cut: the line stays one an operator can read.
        {R"({"appType": 29, "subclient": {"content": ")" + std::string(70, 'x') + "\"}}",
         R"(key "subclient.content" is ")" + std::string(59, 'x') + "..., expected an array of strings"},
        {R"({"indexV2": true})", R"(key "appType" is missing)"},
        {R"([29])", "not a JSON object"},
    };
    int app = 200;
    for (const Case& c : cases) {
        const std::string path = AppConfigPath("1:" + std::to_string(++app));
        CKxError load = LoadApp(c.json, std::to_string(app));
        ASSERT_TRUE(load.IsError()) << c.json;
        EXPECT_EQ(load.Code(), KxCode::InvalidData) << c.json;
        EXPECT_EQ(load.Message().rfind(path + ": ", 0), 0u) << load.Message();
        EXPECT_NE(load.Message().find(c.message), std::string::npos) << c.json << " -> " << load.Message();
        EXPECT_EQ(m_app->getSubclient(), nullptr);
        EXPECT_EQ(m_app->getLastErrorCode(), KxCode::InvalidData);
    }
}

TEST_F(ApplicationConfigTest, ApplicationIdTextMustBeTwoNumbers)
{
    uint64_t o = 0, a = 0;
    EXPECT_TRUE(ApplicationId::Parse("0:18446744073709551615", o, a).IsSuccess());
    EXPECT_EQ(a, 18446744073709551615ull);
    for (const char* bad : {"", "5", "5:", ":5", "a:b", "5:6:7", "-1:2", " 5:6", "5:6 ", "1:18446744073709551616",
                            "1:+2"}) {
        EXPECT_EQ(ApplicationId::Parse(bad, o, a).Code(), KxCode::InvalidParameter) << bad;
        ApplicationId app(bad);
        EXPECT_EQ(app.getApplicationId().Code(), KxCode::InvalidParameter) << bad;
    }
}

TEST_F(ApplicationConfigTest, IndexingVersionFollowsTheConfiguration)
{
    WriteFile(AppConfigPath("3:4"), R"({"appType": 29, "indexV2": true})");
    WriteFile(AppConfigPath("3:5"), R"({"appType": 29})");
    bool useV2 = false;
    EXPECT_TRUE(shouldUseIndexingV2(4, 3, useV2).IsSuccess());
    EXPECT_TRUE(useV2);
    EXPECT_TRUE(shouldUseIndexingV2(5, 3, useV2).IsSuccess());
    EXPECT_FALSE(useV2);
    useV2 = true;
    EXPECT_EQ(shouldUseIndexingV2(6, 3, useV2).Code(), ENOENT);
    EXPECT_TRUE(useV2) << "a failed query leaves the answer untouched";
}

TEST_F(ApplicationConfigTest, ClientFactsAreFoundAcrossApplications)
{
    WriteFile(AppConfigPath("1:1"), R"({"appType": 29, "client": {"id": 2, "name": "c2"}})");
    WriteFile(AppConfigPath("1:2"), "{ broken");
    WriteFile(AppConfigPath("1:3"),
              R"({"appType": 29, "client": {"id": 3, "name": "c3", "baseVersion": "Release 11", "jobResultsDir": "/jr3"}})");
    std::string text = "untouched";
    EXPECT_TRUE(OvaBackup::getClientBaseVersion(3, text).IsSuccess());
    EXPECT_EQ(text, "Release 11");
    EXPECT_TRUE(OvaBackup::getClientBaseVersion(2, text).IsSuccess());
    EXPECT_EQ(text, "");
    EXPECT_EQ(OvaBackup::getClientBaseVersion(4, text).Code(), KxCode::NotFound);

    EXPECT_TRUE(ZVPI_CommClient::getJobResultsDirectory("c3", text).IsSuccess());
    EXPECT_EQ(text, "/jr3");
    EXPECT_TRUE(ZVPI_CommClient::getJobResultsDirectory("c2", text).IsSuccess());
    EXPECT_EQ(text, m_instance + "/JobResults");
    CXJob::SetFocusClientName("c3");
    EXPECT_TRUE(CXJob::GetJobResultsDirectory(text).IsSuccess());
    EXPECT_EQ(text, "/jr3");

    ZVPI_Focus::clearFocus();
    EXPECT_EQ(OvaBackup::getClientBaseVersion(3, text).Code(), KxCode::InvalidParameter);
    EXPECT_EQ(ZVPI_CommClient::getJobResultsDirectory("c3", text).Code(), KxCode::InvalidParameter);
}

// A subclient whose stream-count query fails, as a broken configuration service would.
class FailingStreamsSubclient : public Subclient {
public:
    FailingStreamsSubclient() : Subclient(SubclientData{}) {}
    CKxError getNumStreams(uint32_t&) const override { return CKxError(KxCode::UnknownProduct, "no streams"); }
};

TEST(OutsideAnswerersTest, SmallServicesAnswerAsDocumented)
{
    SubclientData data;
    uint32_t streams = 99;
    data.numStreams = 0;
    Subclient zero(data);
    EXPECT_TRUE(AutoStreamHandler::GetMaxNumberOfStreams(&zero, streams, false, 0, 0, nullptr).IsSuccess());
    EXPECT_EQ(streams, 1u) << "a count of 0 still gives one stream";
    data.numStreams = 6;
    Subclient six(data);
    EXPECT_TRUE(AutoStreamHandler::GetMaxNumberOfStreams(&six, streams, true, 4, 0, nullptr).IsSuccess());
    EXPECT_EQ(streams, 6u);
    streams = 99;
    EXPECT_EQ(AutoStreamHandler::GetMaxNumberOfStreams(nullptr, streams, false, 0, 0, nullptr).Code(),
              KxCode::InvalidParameter);
    FailingStreamsSubclient failing;
    EXPECT_EQ(AutoStreamHandler::GetMaxNumberOfStreams(&failing, streams, false, 0, 0, nullptr).Code(),
              KxCode::UnknownProduct);
    EXPECT_EQ(streams, 99u);
}

}  // namespace
