#pragma once
// CDirChangeStaging: per-thread staging of directory-change entries on their way into a
// CPathCacheFlatFileIndex (used by the buffers and by the index's own AddItem).
#include "Base/KxError.h"
#include "CollectFile/FVBase.h"

#include <string>

class CPathCacheFlatFileIndex;

class CDirChangeStaging {
public:
    explicit CDirChangeStaging(CPathCacheFlatFileIndex& index);
    ~CDirChangeStaging();

    [[nodiscard]] CKxError Add(const std::string& path, bool isFile, const FVBasePtr& record);
    [[nodiscard]] CKxError Flush();
    [[nodiscard]] CKxError Close();

private:
    CPathCacheFlatFileIndex& m_index;
};
