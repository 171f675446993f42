#pragma once
// CWalkRoot: one place where the walk of a work unit starts: the fixed part of one or more
// content entries (the text before the first wildcard, cut back to a folder), with the
// patterns that decide which items under it are content. A root made from a plain content
// path takes its whole tree.
//
// Thread: built by the work unit before the walk; read-only during it.
#include "Engine/FilterSet.h"

#include <string>
#include <sys/stat.h>

class CWalkRoot {
public:
    CWalkRoot(std::string localPath, std::string sourcePath);

    const std::string& GetLocalPath() const { return m_localPath; }
    const std::string& GetSourcePath() const { return m_sourcePath; }

    // A plain content path equal to the root: everything below is content.
    bool TakesWholeTree() const { return m_wholeTree; }
    void SetTakesWholeTree() { m_wholeTree = true; }
    // Wildcard content (and plain content below a wildcard's fixed part): an item is content
    // when it or one of its folders matches; folders that cannot lead to a match are not
    // entered.
    CFilterSet& GetContentPatterns() { return m_contentPatterns; }
    const CFilterSet& GetContentPatterns() const { return m_contentPatterns; }

    // A root that a user's symbolic link led to, judged on the place its path named: the walk
    // reaches it without following any link, so a folder on the way swapped for a link since
    // cannot send the walk elsewhere. Other roots are reached as configured.
    bool IsReachedWithoutLinks() const { return m_withoutLinks; }
    void SetReachedWithoutLinks() { m_withoutLinks = true; }

    // lstat of the root, taken when the unit is prepared: errno 0 and the status, or the errno.
    void SetStatus(const struct stat& status) { m_status = status; m_statErrno = 0; }
    void SetStatErrno(int error) { m_statErrno = error; }
    int GetStatErrno() const { return m_statErrno; }
    const struct stat& GetStatus() const { return m_status; }

private:
    std::string m_localPath;
    std::string m_sourcePath;
    bool m_wholeTree = false;
    bool m_withoutLinks = false;
    CFilterSet m_contentPatterns;
    struct stat m_status {};
    int m_statErrno = -1;  // not taken yet
};
