#pragma once
// On-demand scans: the client on-demand job (type 1, which has no callback) and the on-demand
// backup-set job (type 8). They run the life cycle of their bases unchanged.
#include "Scan/ScanJobFileSystem.h"
#include "Scan/Unix/UnixScanJobCallback.h"

class CScanJobClientOnDemand : public CScanJob {};

class CScanJobOnDemand : public CScanJobFileSystem {};

class CUnixScanJobOnDemandCallback : public CUnixScanJobCallback {};
