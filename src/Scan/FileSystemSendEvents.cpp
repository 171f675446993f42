#include "Scan/FileSystemSendEvents.h"

#include "Agent/EvEvent.h"
#include "Base/FXPath.h"
#include "Base/LogWriter.h"
#include "Scan/ScannerSettings.h"

#include <algorithm>

std::vector<std::string> CFileSystemSendEvents::SplitList(const std::string& value)
{
    std::vector<std::string> entries;
    size_t start = 0;
    while (start <= value.size()) {
        size_t end = value.find_first_of(",;", start);
        if (end == std::string::npos)
            end = value.size();
        std::string entry = value.substr(start, end - start);
        const size_t first = entry.find_first_not_of(" \t");
        const size_t last = entry.find_last_not_of(" \t");
        if (first != std::string::npos)
            entries.push_back(entry.substr(first, last - first + 1));
        start = end + 1;
    }
    return entries;
}

CKxError CFileSystemSendEvents::SendSkipFSEvent(const std::string& path, const std::string& fsType)
{
    std::string silentTypes;
    CScannerSettings::GetString("silentSkippedFSType", silentTypes);
    for (const std::string& type : SplitList(silentTypes))
        if (type == fsType) {
            FSLOG(0, "User selected option to silent skipped file system event for file system type %s for path %s",
                  fsType.c_str(), path.c_str());
            return CKxError::Success();
        }
    std::string silentPaths;
    CScannerSettings::GetString("silentSkippedFSPath", silentPaths);
    const std::string folder = FXPath::TrimTrailingSlashes(path);
    for (const std::string& entry : SplitList(silentPaths))
        if (FXPath::TrimTrailingSlashes(entry) == folder) {
            FSLOG(0, "User selected option to silent skipped file system event for path %s of file system type %s",
                  path.c_str(), fsType.c_str());
            return CKxError::Success();
        }

    std::uint32_t level = EvEvent::Information;
    CScannerSettings::GetNumber("SkippedItemEventLevel", level);
    int severity = static_cast<int>(level);
    if (severity != EvEvent::Minor && severity != EvEvent::Major && severity != EvEvent::Critical)
        severity = EvEvent::Information;
    KX_RETURN_IF_FAILED(EvEvent::Raise(kEventSkippedFileSystem, severity,
                                       KxFormat("%s of File system type %s is skipped", path.c_str(), fsType.c_str()),
                                       {path, fsType}),
                        "Failed to raise the skipped file system event for [%s]", path.c_str());
    return CKxError::Success();
}
