#pragma once
// CFileSystemSendEvents: operator events about what a file-system scan leaves out.
//
// SendSkipFSEvent (a folder not entered because its file-system type is skipped) reads three
// agent settings of "FileSystemAgent" on each call:
//   "SkippedItemEventLevel"  the event's severity: 1 information (default), 3 minor, 6 major,
//                            9 critical; any other value counts as information;
//   "silentSkippedFSType"    file-system types for which no event is raised;
//   "silentSkippedFSPath"    folders for which no event is raised.
// Both lists separate their entries with ',' or ';' (blanks around an entry do not count; a
// path's trailing '/' neither).
//
// Thread: any thread (the settings store and the event context guard themselves).
#include "Base/KxError.h"

#include <cstdint>
#include <string>
#include <vector>

class CFileSystemSendEvents {
public:
    static constexpr std::uint32_t kEventSkippedFileSystem = 0x11000015;

    // Raises "<path> of File system type <type> is skipped" unless the settings silence it.
    [[nodiscard]] static CKxError SendSkipFSEvent(const std::string& path, const std::string& fsType);
    // The entries of a ','/';' separated setting.
    static std::vector<std::string> SplitList(const std::string& value);
};
