#pragma once
// Content-indexing scans to a cloud index (type 33) or a local one (type 53). They run the
// file-system job's life cycle unchanged.
#include "Scan/ScanJobFileSystem.h"
#include "Scan/Unix/UnixScanJobCallback.h"

class CScanJobSolrCloud : public CScanJobFileSystem {};

class CScanJobZvSolr : public CScanJobFileSystem {};

class CScanJobCallbackSolrCloud : public CUnixScanJobCallback {};

class CScanJobCallbackZvSolr : public CUnixScanJobCallback {};
