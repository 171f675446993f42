#pragma once
// CFindFirstScanEngine: the walk of a Linux file system.
//
// How it walks: each folder is opened with openat(O_DIRECTORY|O_NOFOLLOW|O_CLOEXEC), read
// with getdents64 into a large per-thread buffer, every entry is stat'ed with
// fstatat(folder fd, name, AT_SYMLINK_NOFOLLOW), reported, and the folder is closed before
// its subfolders are opened: a worker holds one folder descriptor at a time. Paths are built
// in a per-thread buffer; pending subfolders are kept as (parent, name) nodes on a
// depth-first stack shared by the unit's folder-level workers, so memory grows with depth
// times fan-out, never with the number of items, and there is no recursion (any depth
// walks). Item objects are reused when no consumer kept them.
//
// What it reports: every entry the work unit's content and filters take, folders before
// their contents, all entries of one folder on one thread one after another. Symbolic links
// are items and never followed. An entry on another device than its folder is a mount point:
// it is reported (the chain decides about new mount paths) and entered only when the work
// unit manager follows mount paths and the chain took it. Unreadable folders, vanished
// entries and I/O errors go to the failure consumer with their errno; the walk goes on. A
// folder is entered only when the descriptor opened under its name is the device and inode
// the listing showed (opening by path never follows a link below the root); otherwise it
// goes there as changed during the scan (ESTALE).
//
// Thread: see CScanEngine.
#include "Engine/ScanEngine.h"

class CFindFirstScanEngine : public CScanEngine {
public:
    CFindFirstScanEngine() = default;
    ~CFindFirstScanEngine() override;

    std::string AsString() const override { return "CFindFirstScanEngine"; }
    // Every root that is not a block device (a missing root too: it is reported as a failure).
    bool AcceptsRoot(const CWalkRoot& root) const override;
    [[nodiscard]] CKxError Scan(CScanContext& context, CWorkUnit& unit,
                                const std::vector<const CWalkRoot*>& roots) override;
};
