#include <gtest/gtest.h>

#include "Agent/Arguments.h"
#include "Agent/CommandLineArguments.h"

namespace {

CCommandLineArguments Make(std::vector<std::string> tokens) { return CCommandLineArguments(tokens); }

// What each option of a command line reads as: its value, "<flag>" when present without one,
// "<absent>"; and the positional tokens left over.
TEST(CommandLineTest, OptionsValuesAndPositionals)
{
    struct Case {
        std::vector<std::string> tokens;
        std::vector<std::pair<const char*, const char*>> options;
        std::vector<std::string> positionals;
    };
    const std::vector<Case> cases = {
        // An option followed by an option has no value; negative numbers and empty tokens are
        // values, a lone '-' is not; names are given without their dash.
        {{"-vm", "inst", "-f", "-t", "1", "-j", "-5", "-ref", "-0.5", "-x", "-", "-e", ""},
         {{"vm", "inst"}, {"f", "<flag>"}, {"t", "1"}, {"j", "-5"}, {"ref", "-0.5"}, {"x", "<flag>"}, {"e", ""},
          {"missing", "<absent>"}, {"-vm", "<absent>"}},
         {"-"}},
        // A negative number that follows no option stays positional; '-5x' is no number.
        {{"stray", "-a", "1:2", "extra", "-7", "-5x", "--long", "v"},
         {{"a", "1:2"}, {"5x", "<flag>"}, {"-long", "v"}},
         {"stray", "extra", "-7"}},
        // The last occurrence wins, also a valueless one.
        {{"-t", "1", "-t", "2", "-s", "x", "-s"}, {{"t", "2"}, {"s", "<flag>"}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tokens.front());
        auto args = Make(c.tokens);
        for (const auto& [name, expected] : c.options) {
            std::string value = args.GetOption(name) ? "<flag>" : "<absent>";
            (void)args.GetOption(name, value);  // leaves the text when there is no value
            EXPECT_EQ(value, expected) << name;
        }
        std::vector<std::string> positionals;
        for (size_t i = 0; i < args.GetPositionalCount(); ++i)
            positionals.push_back(args.GetPositional(i));
        EXPECT_EQ(positionals, c.positionals);
        EXPECT_EQ(args.GetPositional(c.positionals.size()), "");
    }
}

TEST(CommandLineTest, UnusedCountFollowsWhatWasRead)
{
    auto args = Make({"left", "-vm", "i", "-j", "5", "-POC", "-dup", "-dup"});
    EXPECT_EQ(args.GetUnusedCount(), 5) << "vm, j, POC, dup and one positional";
    args.GetOption("vm");
    std::string value;
    args.GetOption("j", value);
    args.GetOption("nope");
    EXPECT_EQ(args.GetUnusedCount(), 3);
    EXPECT_EQ(args.GetUnusedOptions(), (std::vector<std::string>{"POC", "dup"}));
    args.GetOption("POC", value);  // read even though it has no value
    args.GetOption("dup");
    EXPECT_EQ(args.GetUnusedCount(), 1);
    EXPECT_EQ(args.GetPositional(0), "left");
    EXPECT_EQ(args.GetUnusedCount(), 0);
}

// Built from argv, the program name is no token (the end-to-end tests read the rest).
TEST(CommandLineTest, BuiltFromArgvSkipsTheProgramName)
{
    const char* argv[] = {"fsweep", "-vm", "inst", "-j", "12"};
    EXPECT_EQ(CCommandLineArguments(5, argv).AsString(), "-vm inst -j 12");
    EXPECT_EQ(CCommandLineArguments(0, nullptr).GetUnusedCount(), 0);
}

TEST(CommandLineTest, NegativeNumbersAreRecognisedExactly)
{
    for (const char* yes : {"-1", "-0", "-123456789012345678901234", "-1.5"})
        EXPECT_TRUE(CCommandLineArguments::IsNegativeNumber(yes)) << yes;
    for (const char* no : {"-", "1", "-a", "-1.", "-.5", "-1.2.3", "--1", "-1e5", ""})
        EXPECT_FALSE(CCommandLineArguments::IsNegativeNumber(no)) << no;
}

TEST(ArgumentsTest, JobIdIsASigned64BitNumber)
{
    int64_t jobId = 0;
    EXPECT_TRUE(CArguments::GetJobId(Make({"-j", "9223372036854775807"}), jobId).IsSuccess());
    EXPECT_EQ(jobId, INT64_MAX);
    EXPECT_TRUE(CArguments::GetJobId(Make({"-j", "-9223372036854775808"}), jobId).IsSuccess());
    EXPECT_EQ(jobId, INT64_MIN);
    jobId = 3;
    for (auto tokens : std::vector<std::vector<std::string>>{{},
                                                             {"-j"},
                                                             {"-j", "-t"},
                                                             {"-j", "12a"},
                                                             {"-j", ""},
                                                             {"-j", "9223372036854775808"},
                                                             {"-j", "0x10"},
                                                             {"-j", "-"}}) {
        CKxError err = CArguments::GetJobId(Make(tokens), jobId);
        EXPECT_EQ(err.Code(), KxCode::InvalidParameter);
        EXPECT_NE(err.AsString().find("-j"), std::string::npos) << err.AsString();
    }
    EXPECT_EQ(jobId, 3) << "failures leave the job id untouched";
    EXPECT_EQ(CArguments::GetJobId(CCommandLineArgumentsPtr(), jobId).Code(), KxCode::InvalidParameter);
}

TEST(ArgumentsTest, ApplicationIdAndClientName)
{
    auto args = std::make_shared<CCommandLineArguments>(std::vector<std::string>{"-a", "2:17", "-cn", "client1"});
    std::string appId, client;
    uint64_t orbundId = 0, appNumber = 0;
    EXPECT_TRUE(CArguments::GetApplicationId(args, appId).IsSuccess());
    EXPECT_EQ(appId, "2:17");
    EXPECT_TRUE(CArguments::GetOrbundAndAppId(args, orbundId, appNumber).IsSuccess());
    EXPECT_EQ(orbundId, 2u);
    EXPECT_EQ(appNumber, 17u);
    EXPECT_TRUE(CArguments::GetClientName(args, client).IsSuccess());
    EXPECT_EQ(client, "client1");

    for (const char* bad : {"17", "2:", "x:1"}) {
        CKxError err = CArguments::GetApplicationId(Make({"-a", bad}), appId);
        EXPECT_EQ(err.Code(), KxCode::InvalidParameter) << bad;
        EXPECT_NE(err.AsString().find("-a"), std::string::npos) << err.AsString();
        EXPECT_EQ(CArguments::GetOrbundAndAppId(Make({"-a", bad}), orbundId, appNumber).Code(),
                  KxCode::InvalidParameter);
    }
    EXPECT_EQ(CArguments::GetApplicationId(Make({}), appId).Code(), KxCode::InvalidParameter);
    EXPECT_EQ(CArguments::GetClientName(Make({"-cn", ""}), client).Code(), KxCode::InvalidParameter);
    EXPECT_EQ(CArguments::GetClientName(Make({"-cn"}), client).Code(), KxCode::InvalidParameter);
    EXPECT_EQ(client, "client1");
}

}  // namespace
