#include "Scan/FileSystemPostProcessResultFolder.h"

#include "Agent/ZVPlatformInfo.h"
#include "Base/BackgroundRemover.h"
#include "Base/FXPath.h"
#include "Base/LogWriter.h"
#include "CollectFile/FlatCollectFile.h"
#include "Scan/FileNameFactory.h"
#include "Scan/ScanJobCallback.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/ScannerOptions.h"
#include "Scan/ScannerSettings.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace Id = SXScannerConfigurationBagId;

namespace {
constexpr std::uint32_t kFullBackup = 1;

// Snapshot backup and catalog jobs: the snapshot holds the results folder's state already.
constexpr std::uint32_t kJobTypesWithoutSubclientFiles[] = {11, 12, 21, 30, 44, 48};

bool Contains(std::string_view name, std::string_view part) { return name.find(part) != std::string_view::npos; }
}  // namespace

CFileSystemPostProcessResultFolder::CFileSystemPostProcessResultFolder() = default;

CFileSystemPostProcessResultFolder::~CFileSystemPostProcessResultFolder() = default;

CKxError CFileSystemPostProcessResultFolder::Prepare(std::shared_ptr<CScannerOptions> options,
                                                     std::shared_ptr<CScanJobCallback> callback)
{
    m_callback = std::move(callback);
    CBagPtr bag = options ? options->GetConfigurationBag() : nullptr;
    if (!bag && m_callback)
        bag = m_callback->GetScannerConfigurationBag();
    if (!bag || !m_callback)
        return CKxError(KxCode::OperationAborted, "Bag is not initialized by ScannerOptions");

    std::string setting;
    m_skipBySetting = ZVPlatformInfo::getString(CScannerSettings::kSection, kSkipSetting, setting) &&
                      !setting.empty() && (setting[0] == 'Y' || setting[0] == 'y');
    if (m_skipBySetting)
        FSLOG(0, "Registry set to skip Subclient Files backup");
    m_backupType = static_cast<std::uint32_t>(CScannerSettings::GetInteger(*bag, Id::idBackupType, kFullBackup));
    m_jobType = static_cast<std::uint32_t>(CScannerSettings::GetInteger(*bag, Id::idJobType, 0));
    m_resultsFolder = bag->GetString(Id::idSubClientResultFolderPath);
    m_laptopClient = bag->GetBool(Id::idLaptopClient);
    m_criteriaBased = bag->GetBool(Id::idOnDemandAdHocCriteriaBased);

    SScanStats stats;
    KX_RETURN_IF_FAILED(m_callback->GetScanStats(stats), "Failed to get the scan statistics");
    m_itemCount = stats.totalItems + stats.deletedItems;
    return CKxError::Success();
}

CKxError CFileSystemPostProcessResultFolder::Run()
{
    if (!m_callback)
        return CKxError(KxCode::OperationAborted, "The subclient files backup was not prepared");
    if (std::string reason; ShouldSkipSubclientFilesBackup(reason)) {
        FSLOG(0, "Subclient files backup is skipped. Reason: %s", reason.c_str());
        return CKxError::Success();
    }
    return RunInternal();
}

CKxError CFileSystemPostProcessResultFolder::Finalize()
{
    m_callback.reset();
    return CKxError::Success();
}

bool CFileSystemPostProcessResultFolder::ShouldSkipSubclientFilesBackup(std::string& reason) const
{
    if (m_skipBySetting) {
        reason = KxFormat("the agent setting %s is set", kSkipSetting);
        return true;
    }
    if (m_laptopClient) {
        reason = "laptop clients keep no subclient files in their backups";
        return true;
    }
    if (std::ranges::find(kJobTypesWithoutSubclientFiles, m_jobType) != std::end(kJobTypesWithoutSubclientFiles)) {
        reason = KxFormat("job type %u takes no subclient files", static_cast<unsigned>(m_jobType));
        return true;
    }
    if (m_mayCompleteInScan && m_itemCount == 0) {
        reason = m_criteriaBased ? "Skipping subclient files backup for criteria based job as there is nothing to backup"
                                 : "the job has nothing to back up and completes in the scan phase";
        return true;
    }
    return false;
}

bool CFileSystemPostProcessResultFolder::IsListed(std::string_view name, bool fullBackup)
{
    if (name == "SCFiles.zvf" || name == "DCTot.zvf" || name == "DCInc.zvf")
        return false;
    if (Contains(name, "Failures") || Contains(name, "GpfsCollect.tmpdir"))
        return false;
    // Being deleted in the background: gone before the backup phase reads it.
    if (::fnmatch(CBackgroundRemover::kLeftoverPattern, std::string(name).c_str(), FNM_PERIOD) == 0)
        return false;
    if (Contains(name, "Collect") && !Contains(name, "StubCollect") && !Contains(name, "GpfsCollect"))
        return Contains(name, fullBackup ? "Tot" : "Inc") || Contains(name, "OD");
    return true;
}

CKxError CFileSystemPostProcessResultFolder::RunInternal()
{
    if (m_resultsFolder.empty())
        return CKxError(KxCode::NotFound, "The job has no subclient results folder");
    std::string folder, volumeId;
    KX_RETURN_IF_FAILED(ResolveResultsFolder(m_resultsFolder, folder, volumeId),
                        "Failed to resolve the subclient results folder [%s]", m_resultsFolder.c_str());
    std::shared_ptr<CFlatCollectFile> collect;
    KX_RETURN_IF_ERROR(OpenCollectFile(folder, volumeId, collect));
    FSLOG(0, "Using collect file - %s", collect->GetFileName().c_str());

    // The folders above first, highest first, as the walk lists a folder before what it holds.
    std::vector<std::string> above;
    for (std::string path = folder; path.size() > 1; path = FXPath::Parent(path))
        above.push_back(path);
    std::string lines;
    std::uint64_t items = 0, folders = 0;
    for (auto it = above.rbegin(); it != above.rend(); ++it) {
        if (IsListedByWalk(*it))
            continue;
        lines += CFlatCollectFile::kSubclientFilesPrefix;
        CFlatCollectFile::FormatItemLine(m_callback->GetSourcePath(*it), true, 0, lines, false);
        ++items;
        ++folders;
    }
    KX_RETURN_IF_ERROR(addEntries(folder, m_callback->GetSourcePath(folder), lines, items, folders));

    CKxError written = collect->RawWriteItems(lines, items, folders, 0);
    CKxError closed = collect->Close();
    KX_RETURN_IF_FAILED(written.IsError() ? std::move(written) : std::move(closed),
                        "Failed to list the subclient files in [%s]", collect->GetFileName().c_str());
    m_appended.push_back({items, lines.size(), FXPath::FileName(collect->GetFileName())});
    FSLOG(0, "Subclient files backup: %llu lines (%llu folders) for [%s] in [%s]", static_cast<unsigned long long>(items),
          static_cast<unsigned long long>(folders), folder.c_str(), collect->GetFileName().c_str());
    return CKxError::Success();
}

CKxError CFileSystemPostProcessResultFolder::addEntries(const std::string& folder, const std::string& sourceFolder,
                                                        std::string& lines, std::uint64_t& items,
                                                        std::uint64_t& folders)
{
    std::vector<SEntry> entries;
    KX_RETURN_IF_FAILED(ListFolder(folder, entries), "Failed to read the subclient results folder [%s]",
                        folder.c_str());
    // Sorted, so that two runs over the same folder list it alike.
    std::ranges::sort(entries, {}, &SEntry::name);
    const bool full = m_backupType == kFullBackup;
    for (const SEntry& entry : entries) {
        if (!IsListed(entry.name, full)) {
            FSLOG(3, "Subclient file [%s] is not listed", entry.name.c_str());
            continue;
        }
        lines += CFlatCollectFile::kSubclientFilesPrefix;
        CFlatCollectFile::FormatItemLine(FXPath::Append(sourceFolder, entry.name), entry.folder, 0, lines, false);
        ++items;
        if (entry.folder)
            ++folders;
    }
    return CKxError::Success();
}

CKxError CFileSystemPostProcessResultFolder::OpenCollectFile(const std::string& realFolder, const std::string& volumeId,
                                                             std::shared_ptr<CFlatCollectFile>& collect)
{
    const std::vector<COutputResourcesPtr> resources = m_callback->GetOutputResourcesList();
    int highest = 0;
    for (const COutputResourcesPtr& resource : resources) {
        highest = std::max(highest, resource->GetCollectNumber());
        // A collect file the clean-up found empty was removed (no consumer) and is not in the
        // split map: it takes no more lines.
        auto flat = std::dynamic_pointer_cast<CFlatCollectFile>(resource->GetCollectConsumer());
        if (collect || resource->GetVolumeId() != volumeId || !flat || flat->GetItemCount() == 0)
            continue;
        KX_RETURN_IF_FAILED(flat->Open(true), "Failed to open collect file [%s] for the subclient files",
                            flat->GetFileName().c_str());
        collect = std::move(flat);
    }
    if (collect)
        return CKxError::Success();

    // The instance lies on a volume the content does not reach: its files get a collect file
    // of their own, read by the backup phase like the others.
    const int number = highest + 1;
    const std::string volume = m_callback->VolumeOf(realFolder);
    FSLOG(0, "No collect file of this job is on the volume [%s] (id [%s]) of the results folder [%s]; collect file %d "
             "lists the subclient files",
          volume.c_str(), volumeId.c_str(), realFolder.c_str(), number);
    KX_RETURN_IF_FAILED(CreateCollectFile(number, volume, collect), "Failed to create collect file %d for the subclient "
                        "files", number);
    auto resource = std::make_shared<COutputResources>(number, m_callback->GetSourcePath(volume), volumeId);
    resource->SetCollectConsumer(collect);
    m_callback->AddOutputResource(resource);
    return AddToSplitMap(number);
}

CKxError CFileSystemPostProcessResultFolder::AddToSplitMap(int number)
{
    const std::shared_ptr<CFileNameFactory> names = m_callback->GetCurrentFileNameFactory();
    if (!names)
        return CKxError(KxCode::NotFound, "No results-file names for the split map");
    const std::string path = names->CollectMap(m_backupType);
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {  // no split ran: the backup phase reads every collect file as it is
            FSLOG(3, "No split map [%s] to name collect file %d in", path.c_str(), number);
            return CKxError::Success();
        }
        return CKxError::FromErrno(errno, KxFormat("Failed to open the split map [%s]", path.c_str()));
    }
    const std::string line = std::to_string(number) + "\n";
    errno = 0;
    const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    const int writeError = errno != 0 ? errno : ENOSPC;  // a short write of a few bytes: the disk is full
    const bool closed = ::close(fd) == 0;
    if (!written || !closed)
        return CKxError::FromErrno(!written ? writeError : errno,
                                   KxFormat("Failed to write the split map [%s]", path.c_str()));
    m_appended.push_back({1, line.size(), FXPath::FileName(path)});
    return CKxError::Success();
}
