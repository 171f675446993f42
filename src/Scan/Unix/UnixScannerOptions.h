#pragma once
// CUnixScannerOptions: the scanner options of the Unix file-system scan. After the common
// load it adds the Unix time rules (mtime/ctime, preserving access times), NAS share mount
// options, GPFS scan mode, hard-link handling and the top-level-content and incomplete
// large-file switches.
//
// Ownership and threads as for CScannerOptions.
#include "Scan/ScannerOptions.h"

class CUnixScannerOptions : public CScannerOptions {
public:
    CUnixScannerOptions();
    ~CUnixScannerOptions() override;

    // The common load first (its error is returned unchanged), then the Unix keys.
    CKxError LoadConfiguration(const std::string& applicationId) override;
};

using CUnixScannerOptionsPtr = std::shared_ptr<CUnixScannerOptions>;
