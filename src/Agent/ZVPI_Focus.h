#pragma once
// ZVPI_Focus: points the process at one agent instance. Every agent service (settings store,
// application configuration, results paths, job-manager journal) answers for the focused
// instance; CInstancePaths turns the focus into folders.
//
// Thread: setFocus is called by the main thread before any worker starts; the getters may be
// called from any thread.
#include <string>

#include "Base/KxError.h"

class ZVPI_Focus {
public:
    // Focuses on $FSWEEP_ROOT/<instance>. Fails (code 2, message naming the path) when that
    // folder does not exist, and with 87 for an empty name or one holding '/'; the previous
    // focus then stays. Creates the instance's JobManager/, Log_Files/, tmp/ and run/
    // folders when they are missing (the instance folder itself must exist).
    [[nodiscard]] static CKxError setFocus(const std::string& instance);
    // The focused instance name, "" when none.
    static std::string getFocus();
    // Drops the focus (tests).
    static void clearFocus();
    // Opens the process log writer on Log_Files/fsweep.log of the focused instance with the
    // level of setting "nLogLevel" (section "FileSystemAgent", default 0), rotated at
    // "nLogRotateKB" KiB (default 10240, 0 never) keeping "nLogFilesKept" files (default 5).
    [[nodiscard]] static CKxError openLog();
};
