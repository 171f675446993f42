#pragma once
// CWorkUnit: the content of one volume, walked as one unit. It holds the unit's content
// paths and the five other lists (content exceptions, filters, filter exceptions, system
// filters, system filter exceptions), its bag ("MaxWorkers": folder-level threads inside the
// unit, 1 when absent or below 1) and, after its walk, its counters and status.
//
// An item is reported when it is content (under a root, matching the root's patterns), not
// under a content exception, and not excluded by the filters or the system filters (each set
// with its own exceptions, see CFilterSet).
//
// Thread: the Add* calls and Prepare run on one thread before the walk; during the walk the
// lists are read-only and the counters are atomic.
#include "Base/Bag.h"
#include "Base/KxError.h"
#include "Engine/ContentMapperAPI.h"
#include "Engine/FilterSet.h"
#include "Engine/WalkRoot.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CWorkUnit {
public:
    // `key` names the unit in the manager's maps; `volume` is the local volume path (mount
    // point) whose output handler the unit's items go to.
    CWorkUnit(std::string key, std::string volume);
    CWorkUnit(const CWorkUnit&) = delete;
    CWorkUnit& operator=(const CWorkUnit&) = delete;
    ~CWorkUnit();

    const std::string& GetKey() const { return m_key; }
    const std::string& GetVolumeName() const { return m_volume; }
    const CBagPtr& GetBag() const { return m_bag; }
    int GetMaxWorkers() const;

    // Wildcard terms of the lists added after this call match case-insensitively.
    void SetWildcardCaseInsensitive(bool on) { m_wildcardCaseInsensitive = on; }

    // Each returns error 87 for an empty or malformed entry (the entry is not added).
    [[nodiscard]] CKxError AddScanContentItem(const std::string& path);
    [[nodiscard]] CKxError AddScanContentExceptionItem(const std::string& entry);
    [[nodiscard]] CKxError AddFilterItem(const std::string& entry);
    [[nodiscard]] CKxError AddFilterExceptionItem(const std::string& entry);
    [[nodiscard]] CKxError AddSystemFilterItem(const std::string& entry);
    [[nodiscard]] CKxError AddSystemFilterExceptionItem(const std::string& entry);

    const std::vector<std::string>& GetScanContentItems() const { return m_content; }
    const CFilterSet& GetContentExceptions() const { return m_contentExceptions; }
    const CFilterSet& GetFilters() const { return m_filters; }
    const CFilterSet& GetSystemFilters() const { return m_systemFilters; }
    // True when no exclusion of any kind applies (the walk then skips all matching work).
    bool HasNoExclusions() const;

    // Where a content entry's walk starts: the path itself, or the folder before its first
    // wildcard ("/" for a name-only pattern); "" for a malformed entry.
    static std::string GetWalkRootOf(const std::string& entry);
    // The root at `path` (a content path of the unit) is to be reached without following any
    // link (CWalkRoot::IsReachedWithoutLinks). Before Prepare.
    void ReachWithoutLinks(const std::string& path) { m_linkFreeRoots.push_back(path); }
    // Builds the walk roots from the content: overlapping content is walked once, from the
    // outermost root; each root is lstat'ed. Idempotent; called by the arbiter.
    void Prepare(const ContentMapperAPIPtr& mapper);
    const std::vector<CWalkRoot>& GetWalkRoots() const { return m_roots; }

    // Walk counters (any thread).
    void CountItem(bool isFolder)
    {
        m_items.fetch_add(1, std::memory_order_relaxed);
        if (isFolder)
            m_folders.fetch_add(1, std::memory_order_relaxed);
    }
    // Batched form, for workers that count locally and add per folder.
    void CountItems(std::uint64_t items, std::uint64_t folders)
    {
        if (items)
            m_items.fetch_add(items, std::memory_order_relaxed);
        if (folders)
            m_folders.fetch_add(folders, std::memory_order_relaxed);
    }
    void CountFailure() { m_failures.fetch_add(1, std::memory_order_relaxed); }
    std::uint64_t GetItemCount() const { return m_items.load(std::memory_order_relaxed); }
    std::uint64_t GetFolderCount() const { return m_folders.load(std::memory_order_relaxed); }
    std::uint64_t GetFailureCount() const { return m_failures.load(std::memory_order_relaxed); }
    // The unit's own outcome: success, or what stopped its walk.
    void SetStatus(const CKxError& status);
    CKxError GetStatus() const;

private:
    std::string m_key;
    std::string m_volume;
    CBagPtr m_bag;
    bool m_wildcardCaseInsensitive = false;
    std::vector<std::string> m_content;
    CFilterSet m_contentExceptions;
    CFilterSet m_filters;
    CFilterSet m_systemFilters;
    std::vector<std::string> m_linkFreeRoots;
    std::vector<CWalkRoot> m_roots;
    bool m_prepared = false;
    std::atomic<std::uint64_t> m_items{0};
    std::atomic<std::uint64_t> m_folders{0};
    std::atomic<std::uint64_t> m_failures{0};
    mutable std::mutex m_statusLock;
    CKxError m_status;
};

using CWorkUnitPtr = std::shared_ptr<CWorkUnit>;
