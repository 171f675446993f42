#include "Scan/JournalFolderPlan.h"

#include "Base/DirChangePathOrder.h"
#include "Base/FXPath.h"
#include "Base/LogWriter.h"
#include "CollectFile/PathCacheFlatFileIndex.h"

#include <algorithm>

CJournalFolderPlan::CJournalFolderPlan() = default;

CJournalFolderPlan::CJournalFolderPlan(std::shared_ptr<CPathCacheFlatFileIndex> index, std::vector<std::string> folders)
    : m_index(std::move(index)), m_read(std::move(folders))
{
    for (std::string& folder : m_read)
        folder.resize(DirChangePathOrder::TrimTrailingSlashes(folder).size());
    std::sort(m_read.begin(), m_read.end(), DirChangePathOrder::Less);
    m_read.erase(std::unique(m_read.begin(), m_read.end()), m_read.end());
}

std::vector<std::string>::const_iterator CJournalFolderPlan::FirstReadFrom(std::string_view path) const
{
    return std::lower_bound(m_read.begin(), m_read.end(), path, DirChangePathOrder::Less);
}

CFolderReadPlan::ERead CJournalFolderPlan::Enter(std::string_view sourcePath)
{
    if (!m_index)
        return ERead::ReadWhole;
    const std::string_view path = DirChangePathOrder::TrimTrailingSlashes(sourcePath);
    // A folder's descendants follow it at once in path order: the first folder to read at or
    // after `path` is it or below it, or no folder to read lies there.
    const auto first = FirstReadFrom(path);
    if (first != m_read.end() && DirChangePathOrder::IsSameOrBelow(path, *first)) {
        if (*first != path)
            return m_index->CanKeepEntriesOf(path) ? ERead::PassThrough : ERead::Read;
        // Named with its parent, it may have been moved in over the place of a folder the
        // previous record holds, sub-folders of the same names included: what lies below it is
        // not what the record holds there, and all of it is read.
        const std::string parent = FXPath::Parent(path);
        return std::binary_search(m_read.begin(), m_read.end(), parent, DirChangePathOrder::Less) ? ERead::ReadWhole
                                                                                                  : ERead::Read;
    }
    if (!m_index->Lookup(path, IDirChange::eFolder))
        return ERead::ReadWhole;  // new (or not read last time): everything below it is new too
    m_index->KeepUnchanged(path);
    m_kept.fetch_add(1, std::memory_order_relaxed);
    return ERead::Kept;
}

std::vector<std::string> CJournalFolderPlan::WayDown(std::string_view sourcePath)
{
    const std::string_view path = DirChangePathOrder::TrimTrailingSlashes(sourcePath);
    const size_t skip = path == "/" ? 1 : path.size() + 1;
    std::vector<std::string> names;
    for (auto it = FirstReadFrom(path); it != m_read.end() && DirChangePathOrder::IsSameOrBelow(path, *it); ++it) {
        if (it->size() <= path.size())
            continue;  // the folder itself
        const std::string_view name = std::string_view(*it).substr(skip, it->find('/', skip) - skip);
        if (names.empty() || names.back() != name)  // one sub-folder's descendants come together
            names.emplace_back(name);
    }
    return names;
}

bool CJournalFolderPlan::Pass(std::string_view sourcePath, const std::vector<std::string>& wayDown)
{
    m_index->KeepAllBut(DirChangePathOrder::TrimTrailingSlashes(sourcePath), wayDown);
    m_passed.fetch_add(1, std::memory_order_relaxed);
    return true;
}

void CJournalFolderPlan::OnMultiLink(std::string_view folderSourcePath, dev_t device, ino_t inode)
{
    const std::string_view folder = DirChangePathOrder::TrimTrailingSlashes(folderSourcePath);
    std::lock_guard lock(m_multiLinkLock);
    m_multiLinkFolders.emplace(folder);
    m_multiLinkFiles.emplace(device, inode);
}

std::vector<std::string> CJournalFolderPlan::MultiLinkFolders() const
{
    std::lock_guard lock(m_multiLinkLock);
    return {m_multiLinkFolders.begin(), m_multiLinkFolders.end()};
}

std::vector<std::pair<std::uint64_t, std::uint64_t>> CJournalFolderPlan::MultiLinkFiles() const
{
    std::lock_guard lock(m_multiLinkLock);
    return {m_multiLinkFiles.begin(), m_multiLinkFiles.end()};
}
