// The scan process's command line: tokens (the input cut at NUL bytes) through the option parser,
// the job-identity readers and the job-kind decision by short options.
#include "Agent/Arguments.h"
#include "Agent/CommandLineArguments.h"
#include "FuzzScratch.h"
#include "Scan/ScanJobFactory.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzScratch::Initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    std::vector<std::string> tokens = FuzzScratch::Split(data, size, '\0');
    auto args = std::make_shared<CCommandLineArguments>(tokens);

    // Every token read as an option name and as a positional, as a job reads them.
    std::string value;
    for (const std::string& token : tokens) {
        if (token.size() > 1 && token[0] == '-') {
            (void)args->GetOption(token.substr(1));
            (void)args->GetOption(token.substr(1), value);
        }
    }
    for (size_t i = 0; i <= args->GetPositionalCount(); ++i)
        (void)args->GetPositional(i);
    if (args->GetUnusedCount() < 0 || args->GetUnusedOptions().size() > tokens.size())
        std::abort();
    (void)args->AsString();

    int64_t jobId = 0;
    (void)CArguments::GetJobId(args, jobId);
    std::string text;
    (void)CArguments::GetApplicationId(args, text);
    uint64_t orbundId = 0, appNumber = 0;
    (void)CArguments::GetOrbundAndAppId(args, orbundId, appNumber);
    (void)CArguments::GetClientName(args, text);

    // No instance in focus: every agent setting reads as not present.
    CScanJobFactory factory("");
    (void)factory.IdentifyScanJobTypeFromCommandLine(args);
    return 0;
}
