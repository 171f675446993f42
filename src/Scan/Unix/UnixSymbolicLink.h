#pragma once
// UnixSymbolicLink: where the symbolic links of a content path lead.
//
// getPhysicalPath resolves the content path itself and walks the folder tree below it without
// following links and without leaving its file system. The physical paths are: the content's
// own resolved path when the content path passes through a link, then the resolved target of
// every link found below it whose target lies outside the content (targets inside the
// content are already walked with it). Dangling links and folders that cannot be read are
// skipped. Each physical path is listed once, in the order found.
//
// Thread: any thread (no shared state).
#include <string>
#include <vector>

class UnixSymbolicLink {
public:
    // False when the content path itself cannot be resolved. `physicalRoot` gets the
    // content's resolved path.
    static bool getPhysicalPath(const std::string& path, std::vector<std::string>& physicalPaths,
                                std::string& physicalRoot);
};
