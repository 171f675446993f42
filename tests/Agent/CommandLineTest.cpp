#include <gtest/gtest.h>

#include "Agent/Arguments.h"
#include "Agent/CommandLineArguments.h"

namespace {

CCommandLineArguments Make(std::vector<std::string> tokens) { return CCommandLineArguments(tokens); }

TEST(CommandLineTest, OptionsTakeTheNextTokenUnlessItIsAnotherOption)
{
    auto args = Make({"-vm", "inst", "-f", "-t", "1", "-j", "-5", "-ref", "-0.5", "-x", "-", "-e", ""});
    std::string value;
    EXPECT_TRUE(args.GetOption("vm", value));
    EXPECT_EQ(value, "inst");
    EXPECT_TRUE(args.GetOption("f"));
    value = "untouched";
    EXPECT_FALSE(args.GetOption("f", value)) << "an option followed by an option has no value";
    EXPECT_EQ(value, "untouched");
    EXPECT_TRUE(args.GetOption("t", value));
    EXPECT_EQ(value, "1");
    EXPECT_TRUE(args.GetOption("j", value));
    EXPECT_EQ(value, "-5") << "a negative number is a value";
    EXPECT_TRUE(args.GetOption("ref", value));
    EXPECT_EQ(value, "-0.5");
    EXPECT_FALSE(args.GetOption("x", value)) << "a lone '-' is not a value";
    EXPECT_TRUE(args.GetOption("e", value));
    EXPECT_EQ(value, "") << "an empty token is a value";
    EXPECT_EQ(args.GetPositionalCount(), 1u);
    EXPECT_EQ(args.GetPositional(0), "-");
    EXPECT_FALSE(args.GetOption("missing"));
    EXPECT_FALSE(args.GetOption("missing", value));
    EXPECT_FALSE(args.GetOption("-vm")) << "names are given without their dash";
}

TEST(CommandLineTest, TokensThatAreNotOptionsArePositional)
{
    auto args = Make({"stray", "-a", "1:2", "extra", "-7", "-5x", "--long", "v"});
    EXPECT_EQ(args.GetPositionalCount(), 3u);
    EXPECT_EQ(args.GetPositional(0), "stray");
    EXPECT_EQ(args.GetPositional(1), "extra");
    EXPECT_EQ(args.GetPositional(2), "-7") << "a negative number that follows no option stays positional";
    EXPECT_EQ(args.GetPositional(3), "");
    std::string value;
    EXPECT_TRUE(args.GetOption("5x")) << "'-5x' is not a number, so it is an option";
    EXPECT_TRUE(args.GetOption("-long", value));
    EXPECT_EQ(value, "v");
}

TEST(CommandLineTest, LastOccurrenceOfAnOptionWins)
{
    auto args = Make({"-t", "1", "-t", "2", "-s", "x", "-s"});
    std::string value;
    EXPECT_TRUE(args.GetOption("t", value));
    EXPECT_EQ(value, "2");
    EXPECT_TRUE(args.GetOption("s"));
    EXPECT_FALSE(args.GetOption("s", value)) << "the later valueless -s replaces -s x";
    EXPECT_EQ(args.GetUnusedCount(), 0);
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

TEST(CommandLineTest, BuiltFromArgvSkipsTheProgramName)
{
    const char* argv[] = {"fsweep", "-vm", "inst", "-j", "12"};
    CCommandLineArguments args(5, argv);
    std::string value;
    EXPECT_TRUE(args.GetOption("vm", value));
    EXPECT_EQ(value, "inst");
    EXPECT_EQ(args.AsString(), "-vm inst -j 12");
    CCommandLineArguments empty(0, nullptr);
    EXPECT_EQ(empty.GetUnusedCount(), 0);
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
