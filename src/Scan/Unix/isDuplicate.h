#pragma once
// isDuplicate: holds a list of paths; applied to a path it answers whether the path is the
// same path as one of them (trailing and repeated slashes do not count). An empty list holds
// no duplicate.
//
// Thread: const after construction; any thread.
#include <string>
#include <vector>

class isDuplicate {
public:
    explicit isDuplicate(const std::vector<std::string>& paths);

    bool operator()(const std::string& path) const;

    static bool IsSamePathAs(const std::string& a, const std::string& b);
    // Repeated slashes collapsed, trailing slashes removed ("/" stays); "" stays "".
    static std::string Normalize(const std::string& path);

private:
    std::vector<std::string> m_paths;  // normalised
};
