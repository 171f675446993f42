#include "CollectFile/DirChangeStaging.h"

CDirChangeStaging::CDirChangeStaging(CPathCacheFlatFileIndex& index) : m_index(index) {}
CDirChangeStaging::~CDirChangeStaging() = default;
CKxError CDirChangeStaging::Add(const std::string&, bool, const FVBasePtr&) { return CKxError(50, "not yet"); }
CKxError CDirChangeStaging::Flush() { return CKxError(50, "not yet"); }
CKxError CDirChangeStaging::Close() { return CKxError(50, "not yet"); }
