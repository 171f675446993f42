#pragma once
// CJournalFolderPlan: the folders an incremental reads when the change journal is trusted.
// A sub-folder is read when it is one of the folders to read (named by the journal, holding
// multi-link names, or not readable last time); a folder the previous record does not know is
// new and read with everything below it. A folder on the way to folders to read is passed
// through when the previous record holds its entries as read then: nothing in it changed (or
// the journal would name it), so its records are kept and only the sub-folders on the way are
// entered. Any other folder is not entered: its records and everything below are kept from
// the previous record unchanged (CPathCacheFlatFileIndex::KeepUnchanged), so that the
// comparison reports nothing there and the next job's lookups find them. The same class in
// read-everything mode serves walking jobs, which only need to learn the multi-link entries.
//
// Thread: every call from every walk worker at once; the folders to read are fixed at
// construction, the index guards its own notes, the multi-link sets are guarded by
// m_multiLinkLock. The results are read once the walk is over.
#include "Engine/FolderReadPlan.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

class CPathCacheFlatFileIndex;

class CJournalFolderPlan : public CFolderReadPlan {
public:
    // Reads everything: only the multi-link entries are learnt.
    CJournalFolderPlan();
    // Reads `folders` (any order, trailing '/' allowed) and the way to them, keeping the rest
    // from `index`'s previous record.
    CJournalFolderPlan(std::shared_ptr<CPathCacheFlatFileIndex> index, std::vector<std::string> folders);

    bool ReadsEverything() const override { return !m_index; }
    ERead Enter(std::string_view sourcePath) override;
    std::vector<std::string> WayDown(std::string_view sourcePath) override;
    bool Pass(std::string_view sourcePath, const std::vector<std::string>& wayDown) override;
    void OnMultiLink(std::string_view folderSourcePath, dev_t device, ino_t inode) override;

    std::vector<std::string> MultiLinkFolders() const;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> MultiLinkFiles() const;
    std::uint64_t KeptFolders() const { return m_kept.load(); }
    std::uint64_t PassedFolders() const { return m_passed.load(); }

private:
    // The first folder to read at or after `path` in path order.
    std::vector<std::string>::const_iterator FirstReadFrom(std::string_view path) const;

    std::shared_ptr<CPathCacheFlatFileIndex> m_index;  // null: everything is read
    std::vector<std::string> m_read;                   // in DirChangePathOrder, without trailing '/'
    std::atomic<std::uint64_t> m_kept{0};
    std::atomic<std::uint64_t> m_passed{0};
    mutable std::mutex m_multiLinkLock;  // guards m_multiLinkFolders, m_multiLinkFiles
    std::set<std::string> m_multiLinkFolders;
    std::set<std::pair<std::uint64_t, std::uint64_t>> m_multiLinkFiles;
};
