#pragma once
// CFlatCollectFileWithAncestors: the ancestor writer of an output resource. An incremental
// backup takes only changed items, but the backup phase must be able to recreate the folders
// above each of them; this collect file lists, once each, every folder above a selected item
// (up to and including "/"), as folder lines ("<escaped path>/"), highest first.
//
// Process(item) records the ancestors of the item's source path (the item itself is written
// by the volume's ordinary collect file); AddToAncestorList(path) does the same for a path
// that reaches the backup without an item (a deleted item's replacement, say). A folder is
// written the first time it is met, so the file streams; the set of folders already written
// is the only memory, and it grows with the folders, not the files.
//
// Thread: as CFlatCollectFile; the ancestor set has its own lock.
#include "CollectFile/FlatCollectFile.h"

#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>

class CFlatCollectFileWithAncestors : public CFlatCollectFile {
public:
    using CFlatCollectFile::CFlatCollectFile;
    ~CFlatCollectFileWithAncestors() override;

    [[nodiscard]] CKxError Process(const CItemPtr& item) override;
    [[nodiscard]] CKxError AddToAncestorList(std::string_view sourcePath);
    std::uint64_t GetAncestorCount() const;

private:
    mutable std::mutex m_ancestorsLock;  // guards m_written and keeps a path's lines together
    std::unordered_set<std::string> m_written;
};
