#pragma once
// Snapshot backups: the snapshot backup without a scan (type 11) and its block-level variant
// (37), which run the common life cycle only, and the snapshot backups with a scan (48) and
// their extent-based variant (54), which run the file-system job's life cycle.
#include "Scan/ScanJobFileSystem.h"
#include "Scan/Unix/UnixScanJobCallback.h"

class CScanJobSnapBackup : public CScanJob {};

class CScanJobSnapBackupBlockLevel : public CScanJobSnapBackup {};

class CScanJobSnapBackupWithScan : public CScanJobFileSystem {};

class CScanJobSnapBackupWithScanDB : public CScanJobSnapBackupWithScan {};

class CScanJobSnapBackupCallback : public CUnixScanJobCallback {};

class CScanJobSnapBackupCallbackBlockLevel : public CScanJobSnapBackupCallback {};

class CScanJobSnapBackupWithScanCallback : public CUnixScanJobCallback {};

class CScanJobSnapBackupWithScanCallbackDB : public CScanJobSnapBackupWithScanCallback {};
