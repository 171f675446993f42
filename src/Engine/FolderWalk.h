#pragma once
// CFolderWalk: the file-system walk of some roots of one work unit, as CFindFirstScanEngine
// runs it (FindFirstScanEngine.h describes the walk). Engine-internal.
//
// Pending folders live on one depth-first stack shared by the unit's folder-level workers.
// A pending folder is a node holding its name, its parent node, its device and its filter
// state; a worker rebuilds the full path from the chain when it takes the folder, so pending
// memory is nodes (depth times fan-out), not full paths.
//
// Thread: Run is called on one arbiter thread; it starts MaxWorkers - 1 further threads and
// returns when all are done.
#include "Base/KxError.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

class CFolderReadPlan;
class CScanContext;
class CWorkUnit;
class CWalkRoot;

class CFolderWalk {
public:
    CFolderWalk(CScanContext& context, CWorkUnit& unit, const std::vector<const CWalkRoot*>& roots);
    CFolderWalk(const CFolderWalk&) = delete;
    CFolderWalk& operator=(const CFolderWalk&) = delete;
    ~CFolderWalk();

    void Run();

    // Filter state bits carried from a folder to its entries.
    enum : std::uint8_t {
        InContent = 1u << 0,
        FilterExcluded = 1u << 1,
        SystemExcluded = 1u << 2,
        ContentExcluded = 1u << 3,
        ReadWhole = 1u << 4,  // the folder and everything below it are read without asking the plan
        PassThrough = 1u << 5,  // the plan passes through the folder (FolderReadPlan.h); not inherited
    };
    static bool IsReported(std::uint8_t state) { return (state & InContent) && !(state & 0x0e); }

    struct Node;
    using NodePtr = std::shared_ptr<Node>;
    class Worker;

    // Opens a folder by path without following a link in its last component; paths longer
    // than the kernel takes in one call are opened piecewise. -1 with errno on failure.
    static int OpenFolder(const std::string& path);
    // Opens the folder `path.substr(pos)` names below the open folder `base` without following
    // a symbolic link anywhere on the way (openat2 with RESOLVE_NO_SYMLINKS where the kernel
    // has it, one name at a time with O_NOFOLLOW otherwise). -1 with errno (ELOOP for a link).
    static int OpenFolderBelow(int base, const std::string& path, size_t pos);

    // How many folder handles the process keeps open for pending subfolders (256); beyond it
    // subfolders are opened by path. Tests lower it to walk every folder that way.
    static void SetHeldFolderHandleLimit(int limit);
    // Opening without links one name at a time, as on kernels without openat2 (tests).
    static void SetOneNameAtATime(bool oneName);

private:
    friend class Worker;
    void WorkerLoop(Worker& worker);

    CScanContext& m_context;
    CWorkUnit& m_unit;
    std::vector<const CWalkRoot*> m_roots;
    bool m_trivialFilters;  // no exclusions and every root takes its whole tree
    CFolderReadPlan* m_plan;  // may be null: every folder is read

    std::mutex m_pendingLock;  // guards m_pending, m_busy, m_waiting
    std::condition_variable m_pendingReady;
    std::vector<NodePtr> m_pending;
    int m_busy = 0;
    int m_waiting = 0;
};
