#pragma once
// Archiving (stubbing) scans (type 42) and the archiving scan that deletes files without
// backing them up (type 55). They run the file-system job's life cycle unchanged.
#include "Scan/ScanJobFileSystem.h"
#include "Scan/Unix/UnixScanJobCallback.h"

class CUnixScanJobFileSystemTandem : public CScanJobFileSystem {};

class CScanJobFileArchivingDelete : public CScanJobFileSystem {};

class CScanFileSystemTandemJobCallback : public CUnixScanJobCallback {};

class CScanJobFileArchivingDeleteCallback : public CUnixScanJobCallback {};
