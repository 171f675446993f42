#pragma once
// Object-store migration scans (type 50): the job runs the common life cycle only.
#include "Scan/ScanJob.h"
#include "Scan/Unix/UnixScanJobCallback.h"

class CScanJobObjectStoreMigration : public CScanJob {};

class CScanJobObjectStoreMigrationCallback : public CUnixScanJobCallback {};
