#include "Agent/ZVPI_Focus.h"

#include <cerrno>
#include <mutex>

#include "Agent/InstancePaths.h"
#include "Agent/ZVPlatformInfo.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/LogWriter.h"

namespace {
std::mutex g_focusLock;  // guards g_focus
std::string g_focus;
}  // namespace

CKxError ZVPI_Focus::setFocus(const std::string& instance)
{
    if (instance.empty() || instance.find('/') != std::string::npos || instance == "." || instance == "..")
        return CKxError(KxCode::InvalidParameter, "Invalid instance name [" + instance + "]");
    std::string folder = FXPath::Append(CInstancePaths::Root(), instance);
    if (!FXFile::IsDirectory(folder))
        return CKxError(ENOENT, "Instance folder [" + folder + "] does not exist");
    for (const char* sub : {"JobManager", "Log_Files", "tmp", "run"})
        KX_RETURN_IF_FAILED(FXFile::CreateDirectories(FXPath::Append(folder, sub)),
                            "Failed to prepare instance folder [%s]", folder.c_str());
    std::lock_guard lock(g_focusLock);
    g_focus = instance;
    return CKxError::Success();
}

std::string ZVPI_Focus::getFocus()
{
    std::lock_guard lock(g_focusLock);
    return g_focus;
}

void ZVPI_Focus::clearFocus()
{
    std::lock_guard lock(g_focusLock);
    g_focus.clear();
}

CKxError ZVPI_Focus::openLog()
{
    std::string folder = CInstancePaths::LogFilesFolder();
    if (folder.empty())
        return CKxError(KxCode::InvalidParameter, "No instance in focus, cannot open the log");
    KX_RETURN_IF_FAILED(FXFile::CreateDirectories(folder), "Failed to create log folder [%s]", folder.c_str());
    KX_RETURN_IF_ERROR(CLogWriter::Instance().Open(FXPath::Append(folder, "fsweep.log"), 0));
    // Read once the file is open, so that a malformed level is reported in the log, where
    // every other setting problem goes, rather than on standard error.
    int level = 0;
    if (ZVPlatformInfo::getRegInt("FileSystemAgent", "nLogLevel", level))
        CLogWriter::Instance().SetLevel(level);
    uint32_t rotateKiB = CLogWriter::kDefaultRotateBytes >> 10;
    uint32_t kept = CLogWriter::kDefaultKeep;
    (void)ZVPlatformInfo::getNumber("FileSystemAgent", "nLogRotateKB", rotateKiB);
    (void)ZVPlatformInfo::getNumber("FileSystemAgent", "nLogFilesKept", kept);
    CLogWriter::Instance().SetRotation(uint64_t{rotateKiB} << 10, kept);
    return CKxError::Success();
}
