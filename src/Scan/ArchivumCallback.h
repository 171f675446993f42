#pragma once
// The callback of virtual-repository scans (type 15, whose job is the file-system job). It
// behaves as the Unix callback.
#include "Scan/Unix/UnixScanJobCallback.h"

class ArchivumCallback : public CUnixScanJobCallback {};
