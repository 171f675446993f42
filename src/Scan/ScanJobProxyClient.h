#pragma once
// Proxy-client scans (type 16): a scan of a client that cannot run the scanner itself, driven
// from this host. For now the job runs the file-system job's life cycle and the callback
// behaves as the Unix callback.
#include "Scan/ScanJobFileSystem.h"
#include "Scan/Unix/UnixScanJobCallback.h"

class CScanJobProxyClient : public CScanJobFileSystem {};

class CScanJobCallbackProxyClient : public CUnixScanJobCallback {};
