#include "CollectFile/PathCacheFlatFileIndex.h"

#include "CollectFile/DirChangeStaging.h"

struct CPathCacheFlatFileIndex::SImpl {
    std::string current, previous;
    CDirChangeItemBaseFormatterPtr formatter;
};

CPathCacheFlatFileIndex::CPathCacheFlatFileIndex() : m_impl(std::make_unique<SImpl>()) {}
CPathCacheFlatFileIndex::~CPathCacheFlatFileIndex() = default;
CKxError CPathCacheFlatFileIndex::SetCurrentBackingFile(const std::string&, ContentMapperAPIPtr) { return CKxError(50, "not yet"); }
CKxError CPathCacheFlatFileIndex::SetPreviousBackingFile(const std::string&, ContentMapperAPIPtr) { return CKxError(50, "not yet"); }
void CPathCacheFlatFileIndex::SetItemInfoFormatter(CDirChangeItemBaseFormatterPtr) {}
void CPathCacheFlatFileIndex::SetCurrentBackingFileParser(CDirChangeItemBaseParserPtr) {}
void CPathCacheFlatFileIndex::SetPreviousBackingFileParser(CDirChangeItemBaseParserPtr) {}
void CPathCacheFlatFileIndex::SetAvoidLoadingEmptyItemInfo(bool) {}
void CPathCacheFlatFileIndex::SetIncludeFiles(bool) {}
bool CPathCacheFlatFileIndex::IsIncludeFiles() const { return true; }
bool CPathCacheFlatFileIndex::HasPreviousBackingFile() const { return false; }
const std::string& CPathCacheFlatFileIndex::GetCurrentBackingFilePath() const { return m_impl->current; }
const std::string& CPathCacheFlatFileIndex::GetPreviousBackingFilePath() const { return m_impl->previous; }
const CDirChangeItemBaseFormatterPtr& CPathCacheFlatFileIndex::GetItemInfoFormatter() const { return m_impl->formatter; }
bool CPathCacheFlatFileIndex::Lookup(std::string_view, EKind, FVBasePtr*) { return false; }
bool CPathCacheFlatFileIndex::LookupCurrent(std::string_view, EKind, FVBasePtr*) { return false; }
CKxError CPathCacheFlatFileIndex::AddItem(const std::string&, const FVBasePtr&, bool) { return CKxError(50, "not yet"); }
CKxError CPathCacheFlatFileIndex::FlushPending() { return CKxError(50, "not yet"); }
CKxError CPathCacheFlatFileIndex::CarryForward(const std::string&) { return CKxError(50, "not yet"); }
CKxError CPathCacheFlatFileIndex::Compare(CPathCacheFlatFileIndexCompareCallback&, unsigned) { return CKxError(50, "not yet"); }
CKxError CPathCacheFlatFileIndex::Compare(const std::string&, const std::string&, CPathCacheFlatFileIndexCompareCallback&,
                                          unsigned, CDirChangeItemBaseParserPtr, CDirChangeItemBaseParserPtr)
{
    return CKxError(50, "not yet");
}
CKxError CPathCacheFlatFileIndex::Close() { return CKxError(50, "not yet"); }
bool CPathCacheFlatFileIndex::IsClosed() const { return false; }
std::uint64_t CPathCacheFlatFileIndex::GetCurrentEntryCount() const { return 0; }
std::uint64_t CPathCacheFlatFileIndex::GetCurrentChunkCount() const { return 0; }
