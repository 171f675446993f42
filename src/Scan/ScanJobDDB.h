#pragma once
// Deduplication-database scans (type 17): the job runs the common life cycle only.
#include "Scan/ScanJob.h"
#include "Scan/Unix/UnixScanJobCallback.h"

class CScanJobDDB : public CScanJob {};

class CScanJobDDBCallback : public CUnixScanJobCallback {};
