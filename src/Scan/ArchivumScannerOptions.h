#pragma once
// CArchivumScannerOptions: scanner options of virtual repository scans. It takes the common options unchanged;
// the keys of its own scan kind are written by that kind's job from its command line.
//
// Ownership and threads as for CScannerOptions.
#include "Scan/ScannerOptions.h"

class CArchivumScannerOptions : public CScannerOptions {
public:
    CArchivumScannerOptions();
    ~CArchivumScannerOptions() override;

    CKxError LoadConfiguration(const std::string& applicationId) override;
};

using CArchivumScannerOptionsPtr = std::shared_ptr<CArchivumScannerOptions>;
