#pragma once
// CSkipFSConsumer: keeps a volume's walk on its own volume. A folder on another device than
// the volume root is a mount point, and is answered once per device:
//   - a device whose volume (mount source) is the source volume's own (a bind mount or a
//     subvolume of the same device) joins the known devices and is walked here;
//   - a file system of a skipped type (skipFS) is not entered, unless the source volume is of
//     that same type: "Skip folder [%s] based on FSType" (error 20001) and a skipped-file-system
//     event;
//   - any other file system is queued on the callback as a new mount path, to be walked as a
//     work unit of its own: "Identified new mount path [%s]. ..." (error 20001).
// Error 20001 tells the engine not to enter the folder; the folder itself is then not listed
// by this volume. Files, raw devices and items not read from the file system pass unchanged.
//
// Ownership: one per chain; the callback outlives it. Thread: the chain runs on one worker at a
// time, but m_knownDevicesLock guards the device set all the same, since the table lookups
// behind it take long and other chains share the mount table.
#include "Engine/ItemConsumerChain.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

class CScanJobCallback;
class skipFS;

class CSkipFSConsumer : public CItemConsumerChain {
public:
    CSkipFSConsumer(CItemConsumerPtr next, CScanJobCallback& callback, long long jobId, std::uint64_t rootDevice,
                    std::string volume, std::string rootFsType, std::string sourceVolumeName,
                    std::shared_ptr<skipFS> fileSystems);
    ~CSkipFSConsumer() override;

    [[nodiscard]] CKxError Process(const CItemPtr& item) override;

private:
    CScanJobCallback& m_callback;
    std::uint64_t m_rootDevice;
    std::string m_volume;
    std::string m_rootFsType;
    std::string m_sourceVolumeName;  // empty: the volume shares its name with no other
    std::shared_ptr<skipFS> m_fileSystems;
    std::mutex m_knownDevicesLock;  // guards m_knownDevices
    std::unordered_set<std::uint64_t> m_knownDevices;
};
