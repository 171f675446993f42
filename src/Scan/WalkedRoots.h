#pragma once
// CWalkedRoots: what the scanner loop of one job has walked, so that a further pass (for a new
// mount path or a symbolic-link target) never lists a place twice and a chain of links that
// leads back into the content cannot make the loop run forever.
//
// It remembers the walk roots of the content entries and of every further pass by path, and
// the folders at those roots by device and inode (the same folder reached under another name,
// through a bind mount or a second link, is the same root). A symbolic-link target is walked
// only when it lies under no content root and no walked root and is not itself a walked
// folder, and only when the link is owned by root or by the owner of what it leads to (the rule
// the kernel applies to links in sticky folders): a user's link must not make the scan, which
// runs as root, take into this subclient a place that user does not own. A new mount path
// (which lies under the content by nature: the walk met it there) only
// when it is not a walked root. Roots of earlier passes that lie below a new root become content
// exceptions of the new pass (RootsBelow), so their items are listed once.
//
// Thread: the job's main thread only (between passes).
#include <set>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

class CWalkedRoots {
public:
    enum class EVerdict {
        New,            // walk it
        UnderContent,   // lies under a content root: the walk of the content took it or filtered it
        AlreadyWalked,  // a root of this job, by path or by device and inode
        Missing,        // does not exist (any more)
        ForeignTarget,  // outside the content, and the link's owner is neither root nor its owner
    };

    // Records the walk root of each content entry (engine form: wildcards allowed).
    void AddContentEntries(const std::vector<std::string>& entries);
    // Records a root that a pass walks; its device and inode are taken when it exists.
    void AddWalkedRoot(const std::string& path);

    // `target` is a symbolic link's target as the walk resolved it, `linkOwner` the link's
    // owner; `resolved` receives its real path (intermediate links resolved), the path a pass
    // walks, and `targetOwner` the owner of what is there.
    EVerdict CheckSymLinkTarget(const std::string& target, uid_t linkOwner, std::string& resolved,
                                uid_t& targetOwner) const;
    EVerdict CheckMountPath(const std::string& path) const;

    // Content roots and walked roots strictly below `path`.
    std::vector<std::string> RootsBelow(const std::string& path) const;
    const std::vector<std::string>& GetContentRoots() const { return m_contentRoots; }
    const std::vector<std::string>& GetWalkedRoots() const { return m_walkedRoots; }

    static const char* VerdictName(EVerdict verdict);
    // A path as a content entry of a work unit: unchanged unless it holds a wildcard character,
    // which (with every backslash) is then escaped so that the entry names this one path.
    static std::string LiteralContentEntry(const std::string& path);
    // A path as an exception or filter entry: wildcard characters and backslashes escaped.
    static std::string LiteralFilterEntry(const std::string& path);

private:
    bool IsWalkedFolder(const std::string& path) const;
    bool IsWalkedPath(const std::string& path) const;

    std::vector<std::string> m_contentRoots;
    std::vector<std::string> m_walkedRoots;
    std::set<std::pair<dev_t, ino_t>> m_walkedFolders;
};
