#pragma once
// Snapshot-difference catalog scans (type 44): a snapshot catalog that lists the difference
// between two snapshots. They run the snapshot catalog's life cycle unchanged.
#include "Scan/BlockLevel/SnapCatalogScanJobs.h"

class CScanJobSnapCatalogSnapDiff : public CScanJobSnapCatalog {};

class CScanJobSnapCatalogSnapDiffCallback : public CScanJobSnapCatalogCallback {};
