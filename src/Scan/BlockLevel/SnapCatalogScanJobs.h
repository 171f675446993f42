#pragma once
// Variants of the snapshot catalog (CScanJobSnapCatalog, type 12): deferred (30), direct-copy
// (52) and block-level (36) catalogs run its life cycle unchanged; the offline block-level
// catalog (51) runs the file-system job's.
#include "Scan/BlockLevel/ScanJobSnapCatalog.h"
#include "Scan/BlockLevel/ScanJobSnapCatalogCallback.h"

class CScanJobSnapDeferredCatalog : public CScanJobSnapCatalog {};

class CScanJobSnapCatalogDirectCopy : public CScanJobSnapCatalog {};

class CScanJobSnapCatalogBlockLevel : public CScanJobSnapCatalog {};

class CScanJobBlkLvlCatalog : public CScanJobFileSystem {};

class CScanJobSnapDeferredCatalogCallback : public CScanJobSnapCatalogCallback {};

class CScanJobSnapCatalogDirectIndexCallback : public CScanJobSnapCatalogCallback {};

class CScanJobSnapCatalogCallbackBlockLevel : public CScanJobSnapCatalogCallback {};

class CScanJobBlkLvlCatalogCallback : public CUnixScanJobCallback {};
