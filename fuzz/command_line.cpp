// The scan process's command line: tokens (the input cut at NUL bytes) through the option parser,
// the check of the whole line against a table of every value form, the job-identity readers and
// the job-kind decision by short options.
#include "Agent/Arguments.h"
#include "Agent/CommandLineArguments.h"
#include "Agent/OptionTable.h"
#include "FuzzScratch.h"
#include "Scan/ScanJobFactory.h"

#include <cstdlib>

namespace {
using V = COptionTable::EValue;
const COptionTable kOptions({
    {"vm", V::Text, "<instance>", "instance"},
    {"j", V::Integer, "<jobId>", "job id"},
    {"t", V::BackupType, "<type>", nullptr},
    {"f", V::BackupType, "<type>", "backup type"},
    {"ref", V::Count, "<seconds>", "reference time"},
    {"snap", V::None, "", "snapshot"},
});
}  // namespace

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

    (void)kOptions.Check(*args);
    for (const std::string& token : tokens)
        for (V kind : {V::None, V::Text, V::Count, V::Integer, V::BackupType})
            (void)COptionTable::IsValid(kind, token);

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
