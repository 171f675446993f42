#include "CollectFile/FlatDirChangeFile.h"

#include "CollectFile/PathCacheFlatFileIndex.h"

CFlatDirChangeFile::CFlatDirChangeFile(std::shared_ptr<CPathCacheFlatFileIndex> index) : m_index(std::move(index)) {}

CKxError CFlatDirChangeFile::Compact(bool)
{
    KX_RETURN_IF_FAILED(m_index->FlushPending(), "Failed to compact the directory-change file '%s'",
                        m_index->GetCurrentBackingFilePath().c_str());
    return CKxError::Success();
}
