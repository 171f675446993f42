#pragma once
// CPathCacheFlatFileIndexCompareCallback: what the comparison of two directory-change files
// tells its caller, one call per (path, kind) it meets. `path` is the item's source path
// without a trailing '/' ("/" for the root); records are parsed with the parser of the file
// they come from and are null when the index avoids loading empty records.
//
// Order: paths arrive in path order (a folder's entries by name, then kind, folder before
// file; a folder's own entry before the entries below it).
//
// Errors: the first error a callback returns stops the comparison; Compare returns it with
// its own location pushed.
//
// Thread: Compare calls the callback on the thread that called Compare, one call at a time.
#include "Base/KxError.h"
#include "CollectFile/FVBase.h"

#include <string>

class CPathCacheFlatFileIndexCompareCallback {
public:
    CPathCacheFlatFileIndexCompareCallback() = default;
    CPathCacheFlatFileIndexCompareCallback(const CPathCacheFlatFileIndexCompareCallback&) = delete;
    CPathCacheFlatFileIndexCompareCallback& operator=(const CPathCacheFlatFileIndexCompareCallback&) = delete;
    virtual ~CPathCacheFlatFileIndexCompareCallback();

    // Only in the first (previous) index: a deleted item.
    [[nodiscard]] virtual CKxError OnInIndex1(const std::string& path, bool isFile, const FVBasePtr& first) = 0;
    // Only in the second (current) index: a new item.
    [[nodiscard]] virtual CKxError OnInIndex2(const std::string& path, bool isFile, const FVBasePtr& second) = 0;
    // In both.
    [[nodiscard]] virtual CKxError OnInBothIndexes(const std::string& path, bool isFile, const FVBasePtr& first,
                                                   const FVBasePtr& second) = 0;
    // Asked once when a comparison starts: false when OnInBothIndexes has nothing to do in it.
    // The comparison then never calls it, reads no record of a path found in both files, and
    // passes over a folder whose chunks are the same bytes in both files. Default: true.
    virtual bool WantsInBothIndexes() const;
    // Asked right after OnInIndex1 for a folder: are its descendants visited (each reported
    // through OnInIndex1, deleted sub-folders asked again) too? Default: no, one deletion per
    // deleted folder, not one for each item it held.
    [[nodiscard]] virtual CKxError OnInIndex1RecurseIntoDeletedFolder(const std::string& path, const FVBasePtr& first,
                                                                      bool& recurse);
};
