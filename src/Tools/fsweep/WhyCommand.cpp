#include "Tools/fsweep/WhyCommand.h"

#include "Agent/CommandLineArguments.h"
#include "Agent/OptionTable.h"
#include "Agent/ZVPI_Focus.h"
#include "Base/DecimalText.h"
#include "Scan/WhyQuery.h"

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {
using V = COptionTable::EValue;
const COptionTable kWhyOptions({
    {"vm", V::Text, "<instance>", "agent instance"},
    {"a", V::Text, "<o>:<a>", "application (subclient)"},
    {"j", V::Count, "<jobId>", "also say what this job did with each path"},
    {"ref", V::Count, "<seconds>", "reference time (default: the next incremental's)"},
    {"h", V::None, "", nullptr},
    {"-help", V::None, "", "this help"},
});

int Usage(const std::string& reason)
{
    std::fprintf(stderr, "fsweep: %s (fsweep why -h for help)\n", reason.c_str());
    return 2;
}
}  // namespace

int RunWhyCommand(int argc, char** argv)
{
    // Options and paths apart: every option of `why` takes a value, and a path is never one.
    std::vector<std::string> optionTokens, paths;
    for (int i = 2; i < argc; ++i) {
        const std::string token = argv[i];
        if (token.size() > 1 && token[0] == '-') {
            optionTokens.push_back(token);
            if (token != "-h" && token != "--help" && i + 1 < argc)
                optionTokens.push_back(argv[++i]);
        } else {
            std::string path = token;
            if (path[0] != '/') {
                char cwd[4096];
                if (::getcwd(cwd, sizeof cwd))
                    path = std::string(cwd) + "/" + path;
            }
            while (path.size() > 1 && path.back() == '/')
                path.pop_back();
            paths.push_back(path);
        }
    }
    CCommandLineArguments args(optionTokens);
    if (args.GetOption("h") || args.GetOption("-help")) {
        std::printf("usage: fsweep why -vm <instance> -a <orbundId>:<appNumber> [-j <jobId>] <path>...\n\n"
                    "For each path, the scan's decision and its reason, in one line.\n\n%s",
                    kWhyOptions.Help().c_str());
        return 0;
    }
    std::string instance, application, job, reference;
    CKxError usage = kWhyOptions.Check(args);
    if (usage.IsSuccess() && (!args.GetOption("vm", instance) || !args.GetOption("a", application) || paths.empty()))
        usage = CKxError(KxCode::InvalidParameter, "why needs -vm, -a and at least one path");
    if (usage.IsError())
        return Usage(usage.Message());
    if (CKxError focus = ZVPI_Focus::setFocus(instance); focus.IsError()) {
        std::fprintf(stderr, "fsweep: %s\n", focus.OneLine().c_str());
        return 1;
    }
    CWhyQuery::SOptions options;
    options.applicationId = application;
    long long number = 0;  // both checked as digits by the option table; too long a number is refused here
    if (args.GetOption("j", job)) {
        if (!DecimalText::ParseSigned(job, number))
            return Usage("-j " + job + " is out of range");
        options.jobId = number;
    }
    if (args.GetOption("ref", reference)) {
        if (!DecimalText::ParseSigned(reference, number))
            return Usage("-ref " + reference + " is out of range");
        options.referenceTime = number;
    }
    CWhyQuery query(options);
    if (CKxError loaded = query.Load(); loaded.IsError()) {
        std::fprintf(stderr, "fsweep: %s\n", loaded.OneLine().c_str());
        return 1;
    }
    for (const std::string& path : paths)
        std::printf("%s\n", query.Explain(path).c_str());
    return 0;
}
