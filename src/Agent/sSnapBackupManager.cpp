#include "Agent/sSnapBackupManager.h"

#include "Agent/InstancePaths.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/LogWriter.h"
#include "Base/OutputSync.h"

#include <nlohmann/json.hpp>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>

using nlohmann::json;

namespace {
CKxError Malformed(const std::string& path, const std::string& what)
{
    return CKxError(KxCode::InvalidData, KxFormat("Snapshot file [%s] is malformed: %s", path.c_str(), what.c_str()));
}

}  // namespace

std::string CsSnapBackupManager::FileOf(long long jobId)
{
    const std::string folder = CInstancePaths::SnapshotsFolder();
    return folder.empty() ? folder : folder + "/" + std::to_string(jobId) + ".json";
}

CKxError CsSnapBackupManager::Load(const std::string& path, std::shared_ptr<CsSnapBackupManager>& manager)
{
    manager.reset();
    if (!FXFile::Exists(path))
        return CKxError(KxCode::NotFound, KxFormat("No snapshot file [%s]", path.c_str()));
    std::string text;
    KX_RETURN_IF_FAILED(FXFile::ReadWholeFile(path, text), "Failed to read the snapshot file [%s]", path.c_str());
    const json document = json::parse(text, nullptr, false);
    if (document.is_discarded() || !document.is_object() || !document.contains("volumes") ||
        !document["volumes"].is_array())
        return Malformed(path, "expected {\"volumes\": [...]}");
    auto made = std::make_shared<CsSnapBackupManager>();
    made->m_path = path;
    for (const json& entry : document["volumes"]) {
        if (!entry.is_object() || !entry.contains("source") || !entry["source"].is_string() ||
            !entry.contains("snapshot") || !entry["snapshot"].is_string() || !entry.contains("archiveId") ||
            !entry["archiveId"].is_number_integer() || (entry.contains("mounted") && !entry["mounted"].is_boolean()))
            return Malformed(path, "a volume needs \"source\" and \"snapshot\" (text), \"archiveId\" (a whole "
                                   "number) and \"mounted\" (true or false): " + entry.dump());
        SVolume volume;
        volume.source = FXPath::TrimTrailingSlashes(entry["source"].get<std::string>());
        volume.snapshot = FXPath::TrimTrailingSlashes(entry["snapshot"].get<std::string>());
        volume.archiveId = entry["archiveId"].get<long long>();
        volume.mounted = entry.value("mounted", true);
        if (volume.source.empty() || volume.source[0] != '/' || volume.snapshot.empty() || volume.snapshot[0] != '/')
            return Malformed(path, "source and snapshot must be absolute paths: " + entry.dump());
        made->m_volumes.push_back(std::move(volume));
    }
    manager = std::move(made);
    return CKxError::Success();
}

CKxError CsSnapBackupManager::GetArchiveIdForSourcePath(const std::string& volume, long long& archiveId) const
{
    const std::string folder = FXPath::TrimTrailingSlashes(volume);
    for (const SVolume& entry : m_volumes)
        if (FXPath::IsUnder(entry.source, folder) || FXPath::IsUnder(folder, entry.source)) {
            archiveId = entry.archiveId;
            return CKxError::Success();
        }
    return CKxError(KxCode::NotFound, KxFormat("No snapshot of a source on volume [%s]", volume.c_str()));
}

CKxError CsSnapBackupManager::Unmount()
{
    CKxError first;
    json volumes = json::array();
    for (SVolume& volume : m_volumes) {
        // A snapshot copied rather than mounted (not a mount point: EINVAL), or gone already, has
        // nothing to detach.
        if (volume.mounted && ::geteuid() == 0 &&
            ::umount2(volume.snapshot.c_str(), MNT_DETACH | UMOUNT_NOFOLLOW) != 0 && errno != EINVAL &&
            errno != ENOENT) {
            CKxError failed = CKxError::FromErrno(errno, "Failed to unmount [" + volume.snapshot + "]");
            if (first.IsSuccess())
                first = std::move(failed);
        } else {
            volume.mounted = false;
        }
        volumes.push_back({{"source", volume.source},
                           {"snapshot", volume.snapshot},
                           {"archiveId", volume.archiveId},
                           {"mounted", volume.mounted}});
    }
    const json document = {{"volumes", volumes}};
    KX_RETURN_IF_FAILED(FXFile::WriteFileAtomically(m_path, document.dump() + "\n"),
                        "Failed to record the snapshots of [%s] unmounted", m_path.c_str());
    KX_RETURN_IF_ERROR(COutputSync::SyncFolder(FXPath::Parent(m_path)));
    return first;
}
