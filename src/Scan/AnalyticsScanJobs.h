#pragma once
// Analytics scans: file analytics (type 32) and the virtual-machine content-indexing and
// catalog scans (types 34 and 35). They run the file-system job's life cycle unchanged.
#include "Scan/ScanJobFileSystem.h"
#include "Scan/Unix/UnixScanJobCallback.h"

class CScanJobAnalytics : public CScanJobFileSystem {};

class CScanJobVSAAnalytics : public CScanJobFileSystem {};

class CScanJobAnalyticsCallback : public CUnixScanJobCallback {};

class CScanJobVSAAnalyticsCallback : public CUnixScanJobCallback {};
