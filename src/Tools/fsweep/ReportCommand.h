#pragma once
// `fsweep report -vm <instance> -j <jobId> [-a <o>:<a>] [--html <file>]`: what one job did
// (CJobReport) on standard output, and with --html as one self-contained page. Exit status 0
// when the report was made, 1 when the job left no journal or the page could not be written,
// 2 a usage error.
int RunReportCommand(int argc, char** argv);
