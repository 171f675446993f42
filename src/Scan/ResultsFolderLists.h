#pragma once
// CResultsFolderLists: reads back, for the operator's tools, the lists the newest scan left in a
// subclient results folder: its failure list (scan_Failures.zvf) and its collect files. A full
// job's collect files are "CollectTot<k>.zvf", another job's "CollectInc<k>.zvf"; the other kind
// may still lie there from an earlier job, so the kind of the newest file is the one read.
// Lines that cannot be decoded are left out: the tools report, they do not judge the files.
//
// Thread: any thread; nothing is kept between calls.
#include <functional>
#include <string>

class CResultsFolderLists {
public:
    // Calls `sink(path, code)` for every line of the failure list.
    static void ReadScanFailures(const std::string& folder, const std::function<void(std::string, int)>& sink);
    // Calls `sink(k, path)` for every item line of the collect files (folders without their
    // trailing '/'; deletion and special lines left out).
    static void ReadCollectFiles(const std::string& folder, const std::function<void(int, std::string)>& sink);
};
