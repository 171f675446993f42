#include "Scan/Archiving/AlwaysArchiveEvaluator.h"

#include "Base/LogWriter.h"
#include "Engine/FindFirstItem.h"

CAlwaysArchiveEvaluator::CAlwaysArchiveEvaluator(const std::string& volume, const CBag& bag, int blockSize,
                                                 std::shared_ptr<CStatsLogWriter> report)
    : CArchiveEvaluator(volume, CTimeStamp(), bag, 0, blockSize, std::move(report))
{
}

bool CAlwaysArchiveEvaluator::IsSelected(const CItemPtr& item)
{
    if (item->IsFolder())
        return false;
    const std::string& path = item->GetSourceFullyQualifiedItemName();
    if (IsFiltered(*item))
        return Refuse(path, "filtered");
    const auto* file = dynamic_cast<const CFindFirstItem*>(item.get());
    if (!file) {
        FSLOG(0, "Dynamic cast failed CItem->CFindFirstItem");
        return Refuse(path, "not a file-system item");
    }
    if (!MayBecomeStub(item, *file, "file is open or mandtatory locked"))
        return false;
    return Select(path, "on-demand archiving");
}
