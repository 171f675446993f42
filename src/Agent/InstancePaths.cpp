#include "Agent/InstancePaths.h"

#include <cstdlib>

#include "Agent/ZVPI_Focus.h"
#include "Base/FXPath.h"

namespace {
std::string Below(const char* name)
{
    std::string instance = CInstancePaths::InstanceFolder();
    return instance.empty() ? std::string() : FXPath::Append(instance, name);
}
}  // namespace

std::string CInstancePaths::Root()
{
    const char* root = std::getenv("FSWEEP_ROOT");
    if (!root || !*root)
        return "/var/opt/fsweep";
    return FXPath::TrimTrailingSlashes(root);
}

std::string CInstancePaths::InstanceFolder()
{
    std::string instance = ZVPI_Focus::getFocus();
    return instance.empty() ? std::string() : FXPath::Append(Root(), instance);
}

std::string CInstancePaths::RegistryFolder() { return Below("registry"); }
std::string CInstancePaths::AppsConfigFolder() { return Below("config/apps"); }
std::string CInstancePaths::JobResultsFolder() { return Below("JobResults"); }
std::string CInstancePaths::JobManagerFolder() { return Below("JobManager"); }
std::string CInstancePaths::LogFilesFolder() { return Below("Log_Files"); }
std::string CInstancePaths::TmpFolder() { return Below("tmp"); }
std::string CInstancePaths::RunFolder() { return Below("run"); }
std::string CInstancePaths::IndexFolder() { return Below("Index"); }
std::string CInstancePaths::SnapshotsFolder() { return Below("Snapshots"); }
