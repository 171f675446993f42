// The administrator's error rules: loading, pattern conversion, matching and the decision over
// a list of failed items.
#include "Agent/ZVJobCtrlClient.h"
#include "Scan/ScanJobTestEnv.h"
#include "Scan/ZvErrorControl.h"

namespace {

std::string Rule(const std::string& pattern, int decision, const std::string& codes, bool skip = false,
                 const std::string& enabled = "1")
{
    return "<ruleList isEnabled=\"" + enabled + "\" pattern=\"" + pattern + "\" jobDecision=\"" +
           std::to_string(decision) + "\" skipFromReporting=\"" + (skip ? "1" : "0") + "\">" + codes + "</ruleList>";
}
std::string Codes(int from, int to) { return KxFormat("<errorCodes allErrorCodes=\"0\" fromValue=\"%d\" toValue=\"%d\"/>", from, to); }
const std::string kAllCodes = "<errorCodes allErrorCodes=\"1\"/>";
std::string Rules(const std::string& rules)
{
    return "<?xml version=\"1.0\"?>\n<App_JobErrorDecisionRuleList>" + rules + "</App_JobErrorDecisionRuleList>";
}

}  // namespace

class ZvErrorControlTest : public ScanJobTestEnv {};

// Patterns naming no folder match anywhere; the first rule that matches decides. The job's rules
// come from the job manager's rules of the client and application type and are kept beside the
// job's files; without them the job has none.
TEST_F(ZvErrorControlTest, LoadsRulesTheFirstMatchDecidesAndAJobKeepsItsClientsRules)
{
    const int slash = ZvErrorControl::kPathTypeSlash, backslash = ZvErrorControl::kPathTypeBackslash;
    for (const auto& [pattern, pathType, converted] : std::vector<std::tuple<const char*, int, const char*>>{
             {"a.lock", slash, "a.lock"}, {"a.lock*", slash, "/**/a.lock*"}, {"[ab].x", slash, "/**/[ab].x"},
             {"/data/*.lock", slash, "/data/*.lock"}, {"*.lock", backslash, "*\\**\\*.lock"},
             {"C:\\data\\*.lock", backslash, "C:\\data\\*.lock"}})
        EXPECT_EQ(Error_Tab::ConvertPattern(pattern, pathType), converted) << pattern;

    const std::string lockSkip = Rule("*.lock", 0, Codes(13, 13), true);
    // Rows that leave out the item look "/a.lock" up with code 13, which only lockSkip matches.
    const struct {
        const char* what;
        std::string xml;
        size_t rules;          // loaded
        int decision = 0;      // -1: no rule matched
        bool skip = true;      // skipped from reporting
        const char* path = "/a.lock";
        long code = 13;
    } cases[] = {
        {"converted pattern matches anywhere", Rules(lockSkip), 1, 0, true, "/data/x/a.lock"},
        {"code outside the range", Rules(lockSkip), 1, -1, false, "/data/x/a.lock", 14},
        {"plain name matches only itself", Rules(Rule("a.lock", 2, kAllCodes)), 1, -1, false, "/data/a.lock", 5},
        {"range lower bound", Rules(Rule("/d/*", 1, Codes(2, 13))), 1, 1, false, "/d/f", 2},
        {"range upper bound", Rules(Rule("/d/*", 1, Codes(2, 13))), 1, 1, false, "/d/f", 13},
        {"above the range", Rules(Rule("/d/*", 1, Codes(2, 13))), 1, -1, false, "/d/f", 14},
        {"second range", Rules(Rule("/d/*", 1, Codes(2, 3) + Codes(20, 20))), 1, 1, false, "/d/f", 20},
        {"all error codes", Rules(Rule("/d/**", 2, kAllCodes)), 1, 2, false, "/d/e/f", 99999},
        {"first match wins", Rules(Rule("*.lock", 1, kAllCodes) + lockSkip), 2, 1, false},
        {"disabled rule not loaded", Rules(Rule("*.lock", 2, kAllCodes, false, "0") + lockSkip), 1},
        {"decision out of range rejected", Rules(Rule("*.lock", 3, kAllCodes) + lockSkip), 1},
        {"bad pattern dropped, later rules apply", Rules(Rule("[abc", 2, kAllCodes) + lockSkip), 1},
        {"rule without codes dropped", Rules(Rule("*.lock", 2, "") + lockSkip), 1},
        {"range without bounds dropped", Rules(Rule("*.lock", 2, "<errorCodes allErrorCodes=\"0\"/>") + lockSkip), 1},
        {"rule without pattern dropped", Rules("<ruleList jobDecision=\"2\">" + kAllCodes + "</ruleList>" + lockSkip), 1},
        {"root compared without case", "<app_joberrordecisionrulelist>" + lockSkip + "</app_joberrordecisionrulelist>", 1},
        {"malformed XML", "<App_JobErrorDecisionRuleList>" + lockSkip, 0, -1, false},
        {"wrong root", "<Rules>" + lockSkip + "</Rules>", 0, -1, false},
        {"no ruleList", Rules(""), 0, -1, false},
        {"empty text", "", 0, -1, false},
        {"external entity not loaded",
         "<!DOCTYPE x [<!ENTITY e SYSTEM \"file:///etc/passwd\">]>" + Rules(Rule("&e;", 2, kAllCodes)), 0, -1, false, "/a", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ZvErrorControl rules;
        const CKxError parsed = rules.ParseXMLRulesFromXMLString(c.xml, "rules.xml");
        // A text that is no rule list at all is an error; one whose rules all fail is not.
        EXPECT_TRUE(std::string(c.what) == "external entity not loaded" || parsed.IsSuccess() == (c.rules > 0))
            << parsed.AsString();
        EXPECT_EQ(rules.GetRules().size(), c.rules);
        std::string pattern;
        EXPECT_EQ(rules.GetJobDecisionFor(c.path, c.code, pattern), c.decision);
        EXPECT_EQ(pattern.empty(), c.decision < 0);
        EXPECT_EQ(rules.IsSkipFromReporting(c.path, c.code, pattern), c.skip);
    }

    // Over a list of failed items the strongest decision wins and a fail ends the list.
    ZvErrorControl rules;
    ASSERT_TRUE(rules
                    .ParseXMLRulesFromXMLString(Rules(Rule("*.log", 0, kAllCodes) + Rule("*.tmp", 1, kAllCodes) +
                                                      Rule("/db/**", 2, Codes(13, 13))))
                    .IsSuccess());
    // What, the list, the decision, the error text and the pattern that decided.
    const std::vector<std::tuple<const char*, std::vector<std::string>, int, const char*, const char*>> lists = {
        {"fail after report", {"/a.log:5", "/x/a.tmp:2", "/db/t:1", "/db/d:b:13", "/db/z:13"}, 2,
         "/db/d:b: Permission denied", "/db/**"},
        {"first report names it", {"/a.log:5", "/x/a.tmp:2", "/y/b.tmp:13"}, 1, "/x/a.tmp: No such file or directory",
         "/**/*.tmp"},
        {"skip only", {"/a.log:5", "no code", "/other:13"}, 0, "/a.log: Input/output error", "/**/*.log"},
        {"nothing matched", {"/other:13", "/db/x:5"}, 0, "", ""},
        {"no items", {"", ""}, -1, "", ""},
    };
    for (const auto& [what, lines, decision, errorText, pattern] : lists) {
        SCOPED_TRACE(what);
        std::string text, decided;
        EXPECT_EQ(rules.GetJobDecisionFor(lines, text, decided, ':'), decision);
        EXPECT_EQ(text, errorText);
        EXPECT_EQ(decided, pattern);
    }
    int decision = -1;
    std::string file, pattern;
    long code = -1;
    bool isDefault = false;
    EXPECT_TRUE(rules.GetStoredJobDecision(decision, file, pattern, code, isDefault));
    EXPECT_EQ(decision, 0);  // the last evaluation that had items
    EXPECT_TRUE(isDefault);
    EXPECT_FALSE(ZvErrorControl().GetStoredJobDecision(decision, file, pattern, code, isDefault));
    EXPECT_EQ(decision, -1);

    // A job's rules, fetched for its client and application type.
    const std::string folder = m_root + "/results";
    std::filesystem::create_directories(folder);
    auto control = std::make_shared<ZVJobCtrlClient>(7);
    EXPECT_FALSE(ZvErrorControl(control, ZvErrorControl::kEntityClient, 2, 29, folder, 1).HasRules());
    EXPECT_FALSE(std::filesystem::exists(folder + "/ErrorControlRules.xml"));

    const std::string text = Rules(Rule("*.lock", 0, Codes(13, 13), true));
    WriteFile(m_instance + "/JobManager/ErrorRules/2_29.xml", text);
    ZvErrorControl kept(control, ZvErrorControl::kEntityClient, 2, 29, folder, 1);
    EXPECT_EQ(kept.GetRules().size(), 1u);
    EXPECT_EQ(ReadFile(folder + "/ErrorControlRules.xml"), text);
    struct stat status {};
    ASSERT_EQ(::stat((folder + "/ErrorControlRules.xml").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(ZvErrorControl(control, ZvErrorControl::kEntityClient, 2, 30, folder, 1).HasRules(), false);
}
