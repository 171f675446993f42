#pragma once
// CCollectFileFileEntry: a non-folder item (regular file, link, device, ...) with its data size.
#include "CollectFile/CollectFileEntry.h"

class CCollectFileFileEntry : public CCollectFileEntry {
public:
    CCollectFileFileEntry(std::string path, std::uint64_t size) : CCollectFileEntry(std::move(path)), m_size(size) {}
    bool IsFolder() const override { return false; }
    std::uint64_t GetSize() const override { return m_size; }

private:
    std::uint64_t m_size;
};
