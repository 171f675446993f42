#pragma once
// The file-system scan that keeps its directory-change record in SQLite databases (type 5
// with the agent setting "nUseSQLiteDirchange" = 1). For now the job runs the file-system
// job's life cycle and the callback behaves as the Unix callback.
#include "Scan/ScanJobFileSystem.h"
#include "Scan/Unix/UnixScanJobCallback.h"

class CScanJobFileSystemSQLiteDirchange : public CScanJobFileSystem {};

class CScanJobFileSystemCallbackSQLiteDirchange : public CUnixScanJobCallback {};
