#include "Scan/HardLink/HardLinkInterface.h"

#include "Base/LogWriter.h"
#include "Engine/FindFirstItem.h"
#include "Scan/HardLink/HardLinkManager.h"

#include <cerrno>

#include <sys/stat.h>

CHardLinkInterface::CHardLinkInterface(CItemConsumerPtr next, std::shared_ptr<HardLinkManager> manager,
                                       int collectNumber, long long jobId)
    : CItemConsumerChain(std::move(next), jobId), m_manager(std::move(manager)), m_collectNumber(collectNumber)
{
}

CHardLinkInterface::~CHardLinkInterface() = default;

bool CHardLinkInterface::IsHardLinked(const CItem& item)
{
    return !item.IsFolder() && item.GetLinkCount() > 1 && item.GetLocalFullyQualifiedItemName().size() <= kMaxLocalName;
}

CKxError CHardLinkInterface::registerWithHLTable(const CItemPtr& item)
{
    const std::string& local = item->GetLocalFullyQualifiedItemName();
    FSLOG(5, "registering HL file '%s'", local.c_str());
    struct stat status {};
    if (const auto* found = dynamic_cast<const CFindFirstItem*>(item.get()))
        status = found->GetFindFirstRawData();
    else if (::lstat(local.c_str(), &status) != 0)
        return CKxError::FromErrno(errno, KxFormat("stat() call failed for '%s'", local.c_str()));
    HLinkGroupElement element;
    element.inode = static_cast<std::uint64_t>(status.st_ino);
    element.device = static_cast<std::uint64_t>(status.st_dev);
    element.changeTime = static_cast<std::int64_t>(status.st_ctim.tv_sec);
    element.size = static_cast<std::uint64_t>(status.st_size);
    element.path = item->GetSourceFullyQualifiedItemName();
    CKxError inserted = m_manager->InsertEntryInHCollectFile(m_collectNumber, element);
    if (inserted.IsError())
        return std::move(inserted.Push(KxFormat("Failed to insert a record into HardLinkTable file for '%s'",
                                                element.path.c_str())));
    return CKxError::Success();
}
