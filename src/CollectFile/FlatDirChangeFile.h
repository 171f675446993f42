#pragma once
// CFlatDirChangeFile: the handle of one output resource on the shared directory-change index.
// The index's layout is final as written (chunks plus a closing index), so compaction rewrites
// nothing: it hands over what the index still stages.
//
// Thread: the owner of the output resource, once its writers are done.
#include "Base/KxError.h"

#include <memory>

class CPathCacheFlatFileIndex;

class CFlatDirChangeFile {
public:
    explicit CFlatDirChangeFile(std::shared_ptr<CPathCacheFlatFileIndex> index);

    // Flushes what is pending; idempotent. `final`: no more entries follow (nothing more is
    // done for it; the index's owner closes the index).
    [[nodiscard]] CKxError Compact(bool final);
    const std::shared_ptr<CPathCacheFlatFileIndex>& GetIndex() const { return m_index; }

private:
    std::shared_ptr<CPathCacheFlatFileIndex> m_index;
};

using CFlatDirChangeFilePtr = std::shared_ptr<CFlatDirChangeFile>;
