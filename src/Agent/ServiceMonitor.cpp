#include "Agent/ServiceMonitor.h"

#include <unistd.h>

#include "Agent/InstancePaths.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"

CKxError uxsvc_checkin(const std::string& name)
{
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
        return CKxError(KxCode::InvalidParameter, "Invalid service name [" + name + "]");
    std::string folder = CInstancePaths::RunFolder();
    if (folder.empty())
        return CKxError(KxCode::InvalidParameter, "No instance in focus for service check-in [" + name + "]");
    KX_RETURN_IF_FAILED(FXFile::CreateDirectories(folder), "Failed to create [%s]", folder.c_str());
    // A check-in names a live process: after a crash of the machine it is stale whether or not
    // it reached the disk, so it is not synced.
    KX_RETURN_IF_FAILED(FXFile::WriteFileAtomically(FXPath::Append(folder, name), std::to_string(::getpid()) + "\n",
                                                    FXFile::EDurability::Volatile),
                        "Service check-in [%s] failed", name.c_str());
    return CKxError::Success();
}
