#pragma once
// `fsweep why -vm <instance> -a <o>:<a> [-j <jobId>] [-ref <seconds>] <path>...`: one line per
// path with the scan's decision and its reason (CWhyQuery). Exit status 0 when every path was
// answered (a path that does not exist is an answer), 1 when the subclient could not be
// loaded, 2 a usage error.
int RunWhyCommand(int argc, char** argv);
