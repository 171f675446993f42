#pragma once
// CX::CCompareContentContainersCallback: what the comparison of a previous and a current
// content container (CCompareContentContainers) reports, one call per difference. Index 1 is
// the previous database, index 2 the current one. Paths are full source paths without a
// trailing '/'.
//
// Order: folders in byte order of their paths; the files of a folder right after it, by name.
// A folder only in the previous database is reported once: nothing at or below it follows. A
// folder only in the current database is followed by every file it holds (each new).
//
// Errors: the first error a callback returns stops the comparison, which returns it.
//
// Thread: called on the thread that runs the comparison, one call at a time, while the
// comparison holds the current container's lock: a callback must not call the container.
#include "Base/KxError.h"

#include <string>
#include <string_view>

namespace CX {

class CCompareContentContainersCallback {
public:
    virtual ~CCompareContentContainersCallback() = default;

    [[nodiscard]] virtual CKxError OnFolderInIndex1(const std::string& path) = 0;
    [[nodiscard]] virtual CKxError OnFileInIndex1(const std::string& path) = 0;
    [[nodiscard]] virtual CKxError OnFolderInIndex2(const std::string& path) = 0;
    [[nodiscard]] virtual CKxError OnFileInIndex2(const std::string& path, std::string_view metadata) = 0;
};

}  // namespace CX
