#pragma once
// CScannerOptionsVSA: scanner options of file scans inside virtual-machine backups. It takes the common options unchanged;
// the keys of its own scan kind are written by that kind's job from its command line.
//
// Ownership and threads as for CScannerOptions.
#include "Scan/ScannerOptions.h"

class CScannerOptionsVSA : public CScannerOptions {
public:
    CScannerOptionsVSA();
    ~CScannerOptionsVSA() override;

    CKxError LoadConfiguration(const std::string& applicationId) override;
};

using CScannerOptionsVSAPtr = std::shared_ptr<CScannerOptionsVSA>;
