#pragma once
// CJobManagerFaults: makes job-manager calls fail, so tests reach the callers' failure paths.
//
// A plan applies to every CBackupJobClient created after it is set. Either the n-th call of a
// client fails (1-based, counting every call including updateInfo), or every call of a given
// name ("complete", "updateInfo", ...). A failing call writes no journal line, returns an
// error with the plan's code and sets the client's last error number and text.
//
// The environment variable FSWEEP_JM_FAIL sets a plan for a whole process (end-to-end tests):
// "<call name>" or "#<n>", optionally followed by ":<code>" (default code 1).
//
// Thread: any thread.
#include <cstddef>
#include <string>

class CJobManagerFaults {
public:
    struct Plan {
        size_t failNthCall = 0;   // 0 = no call by number
        std::string failCallName; // "" = no call by name
        long code = 1;
        bool Empty() const { return failNthCall == 0 && failCallName.empty(); }
    };

    static void FailNthCall(size_t n, long code = 1);
    static void FailCall(const std::string& name, long code = 1);
    static void Clear();
    // The plan set by the calls above, else the one FSWEEP_JM_FAIL describes, else empty.
    static Plan Current();
    // Parses the FSWEEP_JM_FAIL text; false when malformed.
    static bool ParsePlan(const std::string& text, Plan& plan);
};
