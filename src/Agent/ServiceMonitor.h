#pragma once
// The agent's service monitor: a process checks in under a name, recorded as the file
// <instance>/run/<name> holding the process id and a newline (written atomically).
// Fails with 87 for an empty name, one holding '/', or without a focus.
//
// Thread: any thread.
#include <string>

#include "Base/KxError.h"

[[nodiscard]] CKxError uxsvc_checkin(const std::string& name);
