#pragma once
// isNestedMount: holds one path; applied to a candidate (a mount point) it answers whether the
// candidate is that path or one of its ancestors, i.e. whether the path lies on a file system
// mounted at the candidate or below it. Used to find the nearest mounted ancestor of a
// content path. Logs each comparison at level 4.
//
// Thread: const after construction; any thread.
#include <string>

class isNestedMount {
public:
    explicit isNestedMount(std::string held) : m_held(std::move(held)) {}

    bool operator()(const std::string& candidate) const;

    // True when `path` lies under `ancestor`; with `strict` the two must differ. Trailing and
    // repeated slashes do not count.
    static bool IsAncestorOf(const std::string& ancestor, const std::string& path, bool strict);

private:
    std::string m_held;
};
