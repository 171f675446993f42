#pragma once
// CScannerOptionsTandem_UNIX: scanner options of archiving scans that run while backing up, on Unix. It takes the common options unchanged;
// the keys of its own scan kind are written by that kind's job from its command line.
//
// Ownership and threads as for CScannerOptions.
#include "Scan/ScannerOptionsTandem.h"

class CScannerOptionsTandem_UNIX : public CScannerOptionsTandem {
public:
    CScannerOptionsTandem_UNIX();
    ~CScannerOptionsTandem_UNIX() override;

    CKxError LoadConfiguration(const std::string& applicationId) override;
};

using CScannerOptionsTandem_UNIXPtr = std::shared_ptr<CScannerOptionsTandem_UNIX>;
