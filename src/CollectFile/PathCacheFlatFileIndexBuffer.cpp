#include "CollectFile/PathCacheFlatFileIndexBuffer.h"

#include "Base/FileNameEscaping.h"
#include "CollectFile/PathCacheFlatFileIndex.h"

namespace {
CKxError Located(CKxError added, const CPathCacheFlatFileIndex& index, const std::string& path, bool isFile,
                 const FXCodeLocation& where, const char* caller)
{
    return added.Push(KxFormat("Failed to write to '%s' (%s '%s' for %s at %s)", index.GetCurrentBackingFilePath().c_str(),
                               isFile ? "file" : "folder", escapeFileName(path).c_str(), caller ? caller : "?",
                               where.AsString().c_str()));
}

CKxError AddEntry(CDirChangeStaging& staging, const CPathCacheFlatFileIndex& index, const std::string& path,
                  bool isFile, const FXCodeLocation& where, const char* caller, const FVBasePtr& record)
{
    CKxError added = staging.Add(path, isFile, record);
    if (added.IsSuccess()) [[likely]]
        return added;
    return Located(std::move(added), index, path, isFile, where, caller);
}
}  // namespace

CPathCacheFlatFileIndexBuffer::CPathCacheFlatFileIndexBuffer(std::shared_ptr<CPathCacheFlatFileIndex> index)
    : m_index(std::move(index)), m_staging(std::make_unique<CDirChangeStaging>(*m_index))
{
}

CPathCacheFlatFileIndexBuffer::~CPathCacheFlatFileIndexBuffer() = default;

CKxError CPathCacheFlatFileIndexBuffer::AddFolder(const std::string& path, const FXCodeLocation& where,
                                                  const char* caller, const FVBasePtr& record)
{
    return AddEntry(*m_staging, *m_index, path, false, where, caller, record);
}

CKxError CPathCacheFlatFileIndexBuffer::AddFile(const std::string& path, const FXCodeLocation& where,
                                                const char* caller, const FVBasePtr& record)
{
    return AddEntry(*m_staging, *m_index, path, true, where, caller, record);
}

CKxError CPathCacheFlatFileIndexBuffer::Located(CKxError added, const std::string& path, bool isFile,
                                                const FXCodeLocation& where, const char* caller) const
{
    return ::Located(std::move(added), *m_index, path, isFile, where, caller);
}

CKxError CPathCacheFlatFileIndexBuffer::FlushBuffer()
{
    KX_RETURN_IF_FAILED(m_staging->Flush(), "Failed to write to '%s'", m_index->GetCurrentBackingFilePath().c_str());
    return CKxError::Success();
}

CKxError CPathCacheFlatFileIndexBuffer::CloseFile()
{
    KX_RETURN_IF_FAILED(m_staging->Close(), "Failed to write to '%s'", m_index->GetCurrentBackingFilePath().c_str());
    return CKxError::Success();
}

const std::string& CPathCacheFlatFileIndexBuffer::GetCurrentBackingFilePath() const
{
    return m_index->GetCurrentBackingFilePath();
}
