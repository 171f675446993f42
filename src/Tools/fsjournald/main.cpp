// fsjournald: keeps the change journals of one agent instance (docs/change-journal.md).
//
//     fsjournald -vm <instance>
//
// Prints "fsjournald: ready" on standard output once every file system is marked, then serves
// until SIGTERM or SIGINT. Exit status: 0 stopped by a signal; 1 a failure (one line on standard
// error); 2 a usage error; 3 fanotify is not permitted (no CAP_SYS_ADMIN): no journals are kept
// and the scans walk.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "Agent/ZVPI_Focus.h"
#include "Base/KxError.h"
#include "Journal/JournalDaemon.h"

namespace {
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotPermitted = 3;
}  // namespace

int main(int argc, char** argv)
{
    std::string instance;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-vm") == 0 && i + 1 < argc)
            instance = argv[++i];
        else if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::printf("usage: fsjournald -vm <instance>\n\n"
                        "Keeps the change journal of every subclient of $FSWEEP_ROOT/<instance> whose\n"
                        "configuration has \"changeJournal\": true, and answers the scans' sync requests on\n"
                        "<instance>/run/fsjournald.sock. SIGHUP re-reads the configuration; SIGTERM stops.\n");
            return 0;
        } else {
            instance.clear();
            break;
        }
    }
    if (instance.empty()) {
        std::fprintf(stderr, "usage: fsjournald -vm <instance>\n");
        return kExitUsage;
    }
    if (CKxError e = ZVPI_Focus::setFocus(instance); e.IsError()) {
        std::fprintf(stderr, "fsjournald: %s\n", e.OneLine().c_str());
        return kExitFailure;
    }
    CJournalDaemon daemon;
    if (CKxError e = daemon.Start(); e.IsError()) {
        if (e.Code() == EPERM) {
            std::fprintf(stderr, "fsjournald: fanotify is not permitted (needs CAP_SYS_ADMIN): change journals are off, "
                                 "scans walk\n");
            return kExitNotPermitted;
        }
        std::fprintf(stderr, "fsjournald: %s\n", e.OneLine().c_str());
        return kExitFailure;
    }
    std::printf("fsjournald: ready\n");
    std::fflush(stdout);
    if (CKxError e = daemon.Run(); e.IsError()) {
        std::fprintf(stderr, "fsjournald: %s\n", e.OneLine().c_str());
        return kExitFailure;
    }
    return 0;
}
