#include "Scan/JournalFolderPlan.h"

#include "Base/DirChangePathOrder.h"
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

bool CJournalFolderPlan::LeadsToRead(std::string_view path) const
{
    // A folder's descendants follow it at once in path order: the first folder at or after
    // `path` is it or below it, or no folder to read lies there.
    const auto it = std::lower_bound(m_read.begin(), m_read.end(), path, DirChangePathOrder::Less);
    return it != m_read.end() && DirChangePathOrder::IsSameOrBelow(path, *it);
}

CFolderReadPlan::ERead CJournalFolderPlan::Enter(std::string_view sourcePath)
{
    if (!m_index)
        return ERead::ReadWhole;
    const std::string_view path = DirChangePathOrder::TrimTrailingSlashes(sourcePath);
    if (LeadsToRead(path))
        return ERead::Read;
    if (!m_index->Lookup(path, IDirChange::eFolder))
        return ERead::ReadWhole;  // new (or not read last time): everything below it is new too
    const std::string folder(path);
    if (CKxError kept = m_index->KeepUnchanged(folder); kept.IsError()) {
        // Reading it costs time only; a folder whose records cannot be kept is read whole.
        FSLOG_ERROR("Folder [%s] is read, its previous records could not be kept: %s", folder.c_str(),
                    kept.AsString().c_str());
        return ERead::ReadWhole;
    }
    m_kept.fetch_add(1, std::memory_order_relaxed);
    return ERead::Kept;
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
