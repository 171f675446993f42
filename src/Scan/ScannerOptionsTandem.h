#pragma once
// CScannerOptionsTandem: scanner options of archiving scans that run while backing up. It takes the common options unchanged;
// the keys of its own scan kind are written by that kind's job from its command line.
//
// Ownership and threads as for CScannerOptions.
#include "Scan/ScannerOptions.h"

class CScannerOptionsTandem : public CScannerOptions {
public:
    CScannerOptionsTandem();
    ~CScannerOptionsTandem() override;

    CKxError LoadConfiguration(const std::string& applicationId) override;
};

using CScannerOptionsTandemPtr = std::shared_ptr<CScannerOptionsTandem>;
