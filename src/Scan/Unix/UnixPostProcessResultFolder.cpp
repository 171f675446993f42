#include "Scan/Unix/UnixPostProcessResultFolder.h"

#include "Engine/FindFirstItem.h"
#include "Scan/ContentRootAncestorConsumer.h"
#include "Scan/IncrementalDirChange.h"
#include "Scan/Unix/UnixScanJobCallback.h"
#include "Scan/Unix/VolumeId.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

CKxError CUnixPostProcessResultFolder::ResolveResultsFolder(const std::string& folder, std::string& realFolder,
                                                           std::string& volumeId)
{
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(folder.c_str(), nullptr), &std::free);
    if (!resolved)
        return CKxError::FromErrno(errno, KxFormat("Failed to resolve [%s]", folder.c_str()));
    realFolder = resolved.get();
    return CVolumeId::Get(realFolder, volumeId);
}

CKxError CUnixPostProcessResultFolder::ListFolder(const std::string& folder, std::vector<SEntry>& entries)
{
    entries.clear();
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return CKxError::FromErrno(errno, KxFormat("Failed to open [%s]", folder.c_str()));
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        const int error = errno;
        ::close(fd);
        return CKxError::FromErrno(error, KxFormat("Failed to read [%s]", folder.c_str()));
    }
    // A read error ends the folder like its end: what was read is listed.
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat status {};
            isFolder = ::fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode);
        }
        entries.push_back({std::string(name), isFolder});
    }
    ::closedir(dir);
    return CKxError::Success();
}

bool CUnixPostProcessResultFolder::IsListedByWalk(const std::string& folder)
{
    const std::string source = m_callback->GetSourcePath(folder);
    bool underContent = false;
    IncrementalDirChangePtr record;
    for (const COutputResourcesPtr& resource : m_callback->GetOutputResourcesList()) {
        if (!record)
            if (auto stage = std::dynamic_pointer_cast<IncrementalDirChange>(resource->GetDirChangeConsumer());
                stage && stage->IsRecording())
                record = std::move(stage);
        auto ancestors = std::dynamic_pointer_cast<CContentRootAncestorConsumer>(resource->GetAncestorConsumer());
        if (!ancestors)
            continue;
        for (const std::string& written : ancestors->GetAncestorFolders())
            if (written == source)
                return true;
        for (const std::string& root : ancestors->GetRoots())
            underContent = underContent || CContentRootAncestorConsumer::IsAtOrUnder(source, root);
    }
    if (!underContent || !record)
        return false;
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0)
        return false;
    auto item = std::make_shared<CFindFirstItem>(folder, source, status);
    bool found = false;
    int collectNumber = 0;
    return record->CheckIfAddedToCollect(item, found, collectNumber).IsSuccess() && found;
}

CKxError CUnixPostProcessResultFolder::CreateCollectFile(int number, const std::string& volume,
                                                         std::shared_ptr<CFlatCollectFile>& collect)
{
    auto callback = std::dynamic_pointer_cast<CUnixScanJobCallback>(m_callback);
    if (!callback)
        return CKxError(KxCode::InvalidParameter, "The subclient files of a Unix job need the Unix callback");
    return callback->GetFlatCollectFile(collect, CUnixScanJobCallback::kWorkUnitCollect, number, volume);
}
