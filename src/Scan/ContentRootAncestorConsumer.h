#pragma once
// CContentRootAncestorConsumer: the ancestor writer of an output resource. The backup phase
// recreates the folders above what it restores from the collect file, so each collect file
// lists, once, the folders above each root of the walk that reached it: from "/" down to the
// root's parent, as plain folder lines ("<escaped path>/") written before the root's own line.
// They are not items: they are not counted in the collect file's statistics and never reach
// the directory-change records.
//
// Roots are learnt from the items themselves, so the writer needs no list of content: an item
// that lies under no root known to this writer starts one. A folder root covers its whole tree.
// Any other root (a file named as content, or a file matched by a wildcard, walked on its own)
// covers only itself: its folder is not reported, and other content may reach further down
// that folder later (a folder matched by another wildcard), whose folders above must still be
// written. The engine reports a walk root before anything below it, so the roots are the
// content paths, the restart paths (new mount paths, link targets, long paths), the matches of
// wildcard content and the fixed folders of wildcard content that are reported.
//
// Cost: an item under the folder root met last on its thread is decided with one comparison
// and no lock; the first item of a folder root (or an item after a switch of root) and each
// file root take the lock once.
//
// Ownership: one per output resource, shared by every chain of the volume; holds the
// resource's collect file. Thread: Process from any thread; m_rootsLock guards the roots and
// the lines written.
#include "Engine/ItemConsumer.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

class CFlatCollectFile;

class CContentRootAncestorConsumer : public CItemConsumer {
public:
    CContentRootAncestorConsumer(long long jobId, std::shared_ptr<CFlatCollectFile> collect);
    ~CContentRootAncestorConsumer() override;

    [[nodiscard]] CKxError Process(const CItemPtr& item) override;

    // The source paths of the roots met, in the order met: the paths whose ancestors were
    // written.
    std::vector<std::string> GetRoots() const;
    // True when an item at or below `path`, or a root holding `path`, reached this writer.
    bool HasItemsFor(std::string_view path) const;
    // Ancestor lines written, and the folders they name.
    std::uint64_t GetAncestorLineCount() const;
    std::vector<std::string> GetAncestorFolders() const;

    // True when `path` is `folder` or lies below it (no allocation; trailing slashes of
    // `folder` other than a lone "/" must already be removed).
    static bool IsAtOrUnder(std::string_view path, std::string_view folder);

private:
    // The covered root at or above `path` among the known ones, or "" (lock held).
    std::string_view FindCoveringLocked(std::string_view path) const;

    const std::uint64_t m_instance;  // tells this writer's per-thread cache from another's
    std::shared_ptr<CFlatCollectFile> m_collect;
    mutable std::mutex m_rootsLock;  // guards everything below
    std::unordered_set<std::string> m_covered;  // roots: folders whose whole tree is known, and files
    std::vector<std::string> m_roots;
    std::unordered_set<std::string> m_written;  // ancestor folders written
};
