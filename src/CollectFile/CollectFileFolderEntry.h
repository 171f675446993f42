#pragma once
// CCollectFileFolderEntry: a folder; its line ends in '/' and carries no size.
#include "CollectFile/CollectFileEntry.h"

class CCollectFileFolderEntry : public CCollectFileEntry {
public:
    explicit CCollectFileFolderEntry(std::string path) : CCollectFileEntry(std::move(path)) {}
    bool IsFolder() const override { return true; }
};
