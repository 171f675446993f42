#pragma once
// CFSJobResultCleanup: which scan jobs may clean their subclient results folder automatically.
//
// Thread: any thread.
class CFSJobResultCleanup {
public:
    // True for scan job types 2 and 5.
    static bool IsScanJobTypeQualifiedForCleanup(int jobType);
};
