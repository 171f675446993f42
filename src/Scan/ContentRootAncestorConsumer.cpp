#include "Scan/ContentRootAncestorConsumer.h"

#include "Base/FXPath.h"
#include "Base/HotPath.h"
#include "CollectFile/FlatCollectFile.h"

namespace {
std::atomic<std::uint64_t> g_nextInstance{1};

// The root covered last on this thread, by writer instance.
struct SLastRoot {
    std::uint64_t instance = 0;
    std::string folder;
};
thread_local SLastRoot t_lastRoot;
}  // namespace

CContentRootAncestorConsumer::CContentRootAncestorConsumer(long long jobId, std::shared_ptr<CFlatCollectFile> collect)
    : CItemConsumer(jobId), m_instance(g_nextInstance.fetch_add(1, std::memory_order_relaxed)),
      m_collect(std::move(collect))
{
}

CContentRootAncestorConsumer::~CContentRootAncestorConsumer() = default;

bool CContentRootAncestorConsumer::IsAtOrUnder(std::string_view path, std::string_view folder)
{
    if (folder == "/")
        return !path.empty() && path.front() == '/';
    if (!path.starts_with(folder))
        return false;
    return path.size() == folder.size() || path[folder.size()] == '/';
}

std::string_view CContentRootAncestorConsumer::FindCoveringLocked(std::string_view path) const
{
    thread_local std::string key;
    std::string_view folder = path;
    while (!folder.empty()) {
        key.assign(folder);
        if (auto it = m_covered.find(key); it != m_covered.end())
            return *it;
        if (folder == "/")
            break;
        const size_t slash = folder.rfind('/');
        if (slash == std::string_view::npos)
            break;
        folder = slash == 0 ? std::string_view("/") : folder.substr(0, slash);
    }
    return {};
}

KX_HOT_PATH CKxError CContentRootAncestorConsumer::Process(const CItemPtr& item)
{
    std::string_view path = item->GetSourceFullyQualifiedItemName();
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    if (t_lastRoot.instance == m_instance && IsAtOrUnder(path, t_lastRoot.folder))
        return CKxError::Success();

    std::lock_guard lock(m_rootsLock);
    if (std::string_view covering = FindCoveringLocked(path); !covering.empty()) {
        // Something strictly above the item is a folder; a file root meeting itself again
        // says nothing about its neighbours and leaves the thread's folder alone.
        if (covering.size() < path.size() || item->IsFolder()) {
            t_lastRoot.instance = m_instance;
            t_lastRoot.folder.assign(covering);
        }
        return CKxError::Success();
    }

    // A new root: the lines of the folders above it that this collect file lacks, highest
    // first.
    std::vector<std::string> missing;
    std::string folder(path);
    while (folder != "/" && !folder.empty()) {
        folder = FXPath::Parent(folder);
        if (folder.empty() || m_written.contains(folder))
            break;
        missing.push_back(folder);
    }
    std::string line;
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        line.clear();
        CFlatCollectFile::FormatItemLine(*it, true, 0, line);
        KX_RETURN_IF_FAILED(m_collect->RawWriteLine(line), "Failed to write the ancestors of [%s]",
                            std::string(path).c_str());
        m_written.insert(*it);
    }
    // A file root covers itself only: its folder may hold other content met later (a folder
    // matched by another wildcard), whose folders above are not written yet.
    m_roots.emplace_back(path);
    m_covered.emplace(path);
    IncrementProcessedItemsCount();
    if (item->IsFolder()) {
        t_lastRoot.instance = m_instance;
        t_lastRoot.folder.assign(path);
    }
    return CKxError::Success();
}

std::vector<std::string> CContentRootAncestorConsumer::GetRoots() const
{
    std::lock_guard lock(m_rootsLock);
    return m_roots;
}

bool CContentRootAncestorConsumer::HasItemsFor(std::string_view path) const
{
    std::string trimmed = FXPath::TrimTrailingSlashes(path);
    std::lock_guard lock(m_rootsLock);
    if (!FindCoveringLocked(trimmed).empty())
        return true;
    for (const std::string& root : m_roots)
        if (IsAtOrUnder(root, trimmed))
            return true;
    return false;
}

std::uint64_t CContentRootAncestorConsumer::GetAncestorLineCount() const
{
    std::lock_guard lock(m_rootsLock);
    return m_written.size();
}

std::vector<std::string> CContentRootAncestorConsumer::GetAncestorFolders() const
{
    std::lock_guard lock(m_rootsLock);
    return {m_written.begin(), m_written.end()};
}
