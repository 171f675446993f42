#pragma once
// CScanJobSnapBackupOptions: scanner options of snapshot backups. It takes the common options unchanged;
// the keys of its own scan kind are written by that kind's job from its command line.
//
// Ownership and threads as for CScannerOptions.
#include "Scan/ScannerOptions.h"

class CScanJobSnapBackupOptions : public CScannerOptions {
public:
    CScanJobSnapBackupOptions();
    ~CScanJobSnapBackupOptions() override;

    CKxError LoadConfiguration(const std::string& applicationId) override;
};

using CScanJobSnapBackupOptionsPtr = std::shared_ptr<CScanJobSnapBackupOptions>;
