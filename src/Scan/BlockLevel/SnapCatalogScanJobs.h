#pragma once
// Snapshot catalog scans: the catalog of a mounted storage snapshot (type 12) and its
// deferred (30), direct-copy (52), block-level (36) and offline block-level (51) variants.
// They run the file-system job's life cycle unchanged.
#include "Scan/ScanJobFileSystem.h"
#include "Scan/Unix/UnixScanJobCallback.h"

class CScanJobSnapCatalog : public CScanJobFileSystem {
public:
    // "ScanJob/FileSystem/SnapCatalog".
    std::string AsString() const override { return CScanJobFileSystem::AsString() + "/SnapCatalog"; }
};

class CScanJobSnapDeferredCatalog : public CScanJobSnapCatalog {};

class CScanJobSnapCatalogDirectCopy : public CScanJobSnapCatalog {};

class CScanJobSnapCatalogBlockLevel : public CScanJobSnapCatalog {};

class CScanJobBlkLvlCatalog : public CScanJobFileSystem {};

class CScanJobSnapCatalogCallback : public CUnixScanJobCallback {};

class CScanJobSnapDeferredCatalogCallback : public CScanJobSnapCatalogCallback {};

class CScanJobSnapCatalogDirectIndexCallback : public CScanJobSnapCatalogCallback {};

class CScanJobSnapCatalogCallbackBlockLevel : public CScanJobSnapCatalogCallback {};

class CScanJobBlkLvlCatalogCallback : public CUnixScanJobCallback {};
