#include "CollectFile/PathCacheFlatFileIndexBuffer.h"

#include "CollectFile/DirChangeStaging.h"
#include "CollectFile/PathCacheFlatFileIndex.h"

CPathCacheFlatFileIndexBuffer::CPathCacheFlatFileIndexBuffer(std::shared_ptr<CPathCacheFlatFileIndex> index)
    : m_index(std::move(index)), m_staging(std::make_unique<CDirChangeStaging>(*m_index))
{
}
CPathCacheFlatFileIndexBuffer::~CPathCacheFlatFileIndexBuffer() = default;
CKxError CPathCacheFlatFileIndexBuffer::AddFolder(const std::string&, const FXCodeLocation&, const char*, const FVBasePtr&) { return CKxError(50, "not yet"); }
CKxError CPathCacheFlatFileIndexBuffer::AddFile(const std::string&, const FXCodeLocation&, const char*, const FVBasePtr&) { return CKxError(50, "not yet"); }
CKxError CPathCacheFlatFileIndexBuffer::FlushBuffer() { return CKxError(50, "not yet"); }
CKxError CPathCacheFlatFileIndexBuffer::CloseFile() { return CKxError(50, "not yet"); }
const std::string& CPathCacheFlatFileIndexBuffer::GetCurrentBackingFilePath() const { return m_index->GetCurrentBackingFilePath(); }
