#include "Engine/FindFirstScanEngine.h"

#include "Engine/FolderWalk.h"
#include "Engine/WalkRoot.h"

#include <sys/stat.h>

CFindFirstScanEngine::~CFindFirstScanEngine() = default;

bool CFindFirstScanEngine::AcceptsRoot(const CWalkRoot& root) const
{
    return root.GetStatErrno() != 0 || !S_ISBLK(root.GetStatus().st_mode);
}

CKxError CFindFirstScanEngine::Scan(CScanContext& context, CWorkUnit& unit, const std::vector<const CWalkRoot*>& roots)
{
    CFolderWalk walk(context, unit, roots);
    walk.Run();
    return CKxError::Success();
}
