#pragma once
// Archiving (stubbing) scans: the archiving job (type 42, CUnixScanJobFileSystemTandem) and the
// archiving scan that deletes files without backing them up (type 55), which runs the
// file-system job's life cycle unchanged.
#include "Scan/Archiving/ScanFileSystemTandemJobCallback.h"
#include "Scan/Archiving/UnixScanJobFileSystemTandem.h"

class CScanJobFileArchivingDelete : public CScanJobFileSystem {};

class CScanJobFileArchivingDeleteCallback : public CUnixScanJobCallback {};
