// The administrator's error rules on a real scan: run by root as the unprivileged user (option
// -uid), the walk cannot read two folders; the rules decide what the job manager hears.
#include "ScanJobFixture.h"

namespace e2e {
namespace {

class ErrorRulesTest : public ScanJobFixture {};

std::string Rule(const std::string& pattern, int decision, int from, int to, bool skip)
{
    return "<ruleList isEnabled=\"1\" pattern=\"" + pattern + "\" jobDecision=\"" + std::to_string(decision) +
           "\" skipFromReporting=\"" + (skip ? "1" : "0") + "\"><errorCodes allErrorCodes=\"0\" fromValue=\"" +
           std::to_string(from) + "\" toValue=\"" + std::to_string(to) + "\"/></ruleList>";
}

TEST_F(ErrorRulesTest, RulesDecideTheFailureCountAndThePhase)
{
    if (!m_asRoot)
        GTEST_SKIP() << "making folders unreadable to the walk needs root";
    const std::string data = m_tree + "/data";
    WriteText(data + "/ok.txt", "ok");
    MakeUnreadable(data + "/a.lock");
    MakeUnreadable(data + "/b.dat");
    WriteText(m_instance + "/config/apps/2:5.json",
              R"({"appType": 29, "indexV2": true, "client": {"id": 2, "name": "client1"},
                  "backupSet": {"name": "users", "default": false},
                  "subclient": {"id": 5, "name": "sc1", "content": )" + List({data}) + "}}\n");
    const std::string lockSkipped = Rule("*.lock", 0, 13, 13, true);
    const struct {
        const char* what;
        std::string rules;
        int failureCount;    // as the job manager hears it
        const char* failed;  // in the phase's failure message; "": the phase completes
        bool event;          // a major event names b.dat
    } cases[] = {
        {"skipped from reporting, a bad pattern dropped", Rule("[abc", 2, 0, 100, false) + lockSkipped, 1, "", false},
        {"decision 2 fails the phase", lockSkipped + Rule("*b.dat", 2, 1, 20, false), 1, "b.dat: Permission denied",
         false},
        {"decision 1 raises an event", Rule("*b.dat", 1, 13, 13, false), 2, "", true},
        {"malformed rules", "<ruleList", 2, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(m_instance + "/JobManager/1.jsonl");
        WriteText(m_instance + "/JobManager/ErrorRules/2_29.xml",
                  "<App_JobErrorDecisionRuleList>" + c.rules + "</App_JobErrorDecisionRuleList>");
        RunResult scan = Run(Binary("fsweep"), JobArgs(1, 1, {"-uid", std::to_string(kScanUser)}), false);
        ASSERT_EQ(scan.status, 0) << scan.err;
        const std::vector<std::string> listed = Lines(Results() + "/scan_Failures.zvf");
        EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()),
                  (std::set<std::string>{"folder " + escapeFileName(data + "/a.lock") + ":13",
                                         "folder " + escapeFileName(data + "/b.dat") + ":13"}));
        EXPECT_EQ(Calls("addScanFileFailures").at(0).value("count", 0), c.failureCount);
        auto completes = Calls("complete");
        ASSERT_EQ(completes.size(), 1u);
        if (*c.failed) {
            EXPECT_EQ(completes[0].value("status", 0), 2);
            EXPECT_NE(completes[0].value("message", "").find(data + "/b.dat: Permission denied"), std::string::npos)
                << completes[0].dump();
        } else {
            ExpectPhaseCompleted();
        }
        bool event = false;
        for (const nlohmann::json& raised : Calls("event"))
            event = event || (raised.value("severity", "") == "major" &&
                              raised.value("message", "").find(data + "/b.dat: Permission denied") != std::string::npos);
        EXPECT_EQ(event, c.event);
    }
}

}  // namespace
}  // namespace e2e
