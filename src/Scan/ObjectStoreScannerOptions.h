#pragma once
// CObjectStoreScannerOptions: scanner options of object-store migration scans. It takes the common options unchanged;
// the keys of its own scan kind are written by that kind's job from its command line.
//
// Ownership and threads as for CScannerOptions.
#include "Scan/ScannerOptions.h"

class CObjectStoreScannerOptions : public CScannerOptions {
public:
    CObjectStoreScannerOptions();
    ~CObjectStoreScannerOptions() override;

    CKxError LoadConfiguration(const std::string& applicationId) override;
};

using CObjectStoreScannerOptionsPtr = std::shared_ptr<CObjectStoreScannerOptions>;
