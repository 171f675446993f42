#include "Tools/fsweep/ReportCommand.h"

#include "Agent/CommandLineArguments.h"
#include "Agent/OptionTable.h"
#include "Agent/ZVPI_Focus.h"
#include "Base/DecimalText.h"
#include "Base/FXFile.h"
#include "Tools/fsweep/JobReport.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {
using V = COptionTable::EValue;
const COptionTable kReportOptions({
    {"vm", V::Text, "<instance>", "agent instance"},
    {"j", V::Count, "<jobId>", "the job"},
    {"a", V::Text, "<o>:<a>", "its subclient (default: the one whose backup index holds the job)"},
    {"-html", V::Text, "<file>", "also write the report as one self-contained HTML page"},
    {"h", V::None, "", nullptr},
    {"-help", V::None, "", "this help"},
});

int Usage(const std::string& reason)
{
    std::fprintf(stderr, "fsweep: %s (fsweep report -h for help)\n", reason.c_str());
    return 2;
}
}  // namespace

int RunReportCommand(int argc, char** argv)
{
    CCommandLineArguments args(std::vector<std::string>(argv + 2, argv + argc));
    if (args.GetOption("h") || args.GetOption("-help")) {
        std::printf("usage: fsweep report -vm <instance> -j <jobId> [--html <file>]\n\n"
                    "What one job did: outcome, selection, failures, streams, top folders, step times.\n\n%s",
                    kReportOptions.Help().c_str());
        return 0;
    }
    if (CKxError usage = kReportOptions.Check(args); usage.IsError())
        return Usage(usage.Message());
    std::string instance, job, application, html;
    long long jobId = 0;
    if (!args.GetOption("vm", instance) || !args.GetOption("j", job))
        return Usage("report needs -vm and -j");
    if (!DecimalText::ParseSigned(job, jobId))
        return Usage("-j " + job + " is out of range");
    (void)args.GetOption("a", application);
    if (CKxError focus = ZVPI_Focus::setFocus(instance); focus.IsError()) {
        std::fprintf(stderr, "fsweep: %s\n", focus.OneLine().c_str());
        return 1;
    }
    CJobReport report(jobId, application);
    if (CKxError loaded = report.Load(); loaded.IsError()) {
        std::fprintf(stderr, "fsweep: %s\n", loaded.OneLine().c_str());
        return 1;
    }
    std::printf("%s", report.Text().c_str());
    if (args.GetOption("-html", html)) {
        // A new file renamed into place: a link planted at the name is replaced, never followed.
        if (CKxError written = FXFile::WriteFileAtomically(html, report.Html(), FXFile::EDurability::Volatile);
            written.IsError()) {
            std::fprintf(stderr, "fsweep: %s\n", written.OneLine().c_str());
            return 1;
        }
    }
    return 0;
}
