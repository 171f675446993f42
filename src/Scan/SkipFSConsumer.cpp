#include "Scan/SkipFSConsumer.h"

#include "Base/HotPath.h"
#include "Base/LogWriter.h"
#include "Engine/FindFirstItem.h"
#include "Engine/RawDeviceItem.h"
#include "Scan/FileSystemSendEvents.h"
#include "Scan/ScanJobCallback.h"
#include "Scan/Unix/skipFS.h"

CSkipFSConsumer::CSkipFSConsumer(CItemConsumerPtr next, CScanJobCallback& callback, long long jobId,
                                 std::uint64_t rootDevice, std::string volume, std::string rootFsType,
                                 std::string sourceVolumeName, std::shared_ptr<skipFS> fileSystems)
    : CItemConsumerChain(std::move(next), jobId),
      m_callback(callback),
      m_rootDevice(rootDevice),
      m_volume(std::move(volume)),
      m_rootFsType(std::move(rootFsType)),
      m_sourceVolumeName(std::move(sourceVolumeName)),
      m_fileSystems(std::move(fileSystems))
{
}

CSkipFSConsumer::~CSkipFSConsumer() = default;

KX_HOT_PATH CKxError CSkipFSConsumer::Process(const CItemPtr& item)
{
    if (!item->IsFolder())
        return CItemConsumerChain::Process(item);
    const auto* found = dynamic_cast<const CFindFirstItem*>(item.get());
    if (!found || dynamic_cast<const CRawDeviceItem*>(found))
        return CItemConsumerChain::Process(item);
    const std::uint64_t device = found->GetDeviceId();
    if (device == m_rootDevice)
        return CItemConsumerChain::Process(item);

    const std::string& path = item->GetLocalFullyQualifiedItemName();
    {
        std::lock_guard lock(m_knownDevicesLock);
        if (m_knownDevices.contains(device))
            return CItemConsumerChain::Process(item);
        std::string volumeName;
        CKxError named = m_fileSystems->Refresh();
        if (named.IsSuccess())
            named = m_fileSystems->GetVolumeName(path, volumeName);
        if (named.IsError())
            FSLOG(0, "Failed to get volume name for [%s], Error [%s]", path.c_str(), named.AsString().c_str());
        else if (!volumeName.empty() && volumeName == m_sourceVolumeName) {
            FSLOG(3,
                  "For source [%s], Volume names are same.[%s], [%s]. Add device ID to known list [%llu] and process "
                  "item with same WU",
                  m_volume.c_str(), m_sourceVolumeName.c_str(), volumeName.c_str(),
                  static_cast<unsigned long long>(device));
            m_knownDevices.insert(device);
            return CItemConsumerChain::Process(item);
        }
    }

    bool skip = false;
    struct stat status {};
    std::string fsType;
    CKxError typed = m_fileSystems->GetFsType(path, skip, status, fsType);
    if (typed.IsError()) {
        // Only the folder's own status can fail here: it vanished or cannot be read.
        item->SetErrorNumber(static_cast<int>(typed.Code()));
        return std::move(typed.Push(KxFormat("Failed to get the file system of [%s]", path.c_str())));
    }
    FSLOG(3, "DeviceID [%llu], FsType [%s], bSkipFS [%d]", static_cast<unsigned long long>(device), fsType.c_str(),
          skip ? 1 : 0);
    if (skip && fsType == m_rootFsType) {
        FSLOG(3, "FsType is same as source type[%s]", fsType.c_str());
        skip = false;
    }
    if (skip) {
        FSLOG(0, "Skip entire folder [%s] based on FSType", path.c_str());
        CKxError sent = CFileSystemSendEvents::SendSkipFSEvent(path, fsType);
        if (sent.IsError())
            FSLOG_ERROR("%s", sent.AsString().c_str());
        return CKxError(KxCode::DoNotEnterFolder, KxFormat("Skip folder [%s] based on FSType", path.c_str()));
    }
    if (status.st_dev == 0)
        return CItemConsumerChain::Process(item);
    KX_RETURN_IF_FAILED(m_callback.OnNewMountPath(item), "Failed to queue new mount path [%s]", path.c_str());
    return CKxError(KxCode::DoNotEnterFolder,
                    KxFormat("Identified new mount path [%s]. Process this with different workunit.", path.c_str()));
}
