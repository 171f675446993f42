#pragma once
// CScanJobSnapBackupDBOptions: scanner options of extent-based snapshot backups with scan. It takes the common options unchanged;
// the keys of its own scan kind are written by that kind's job from its command line.
//
// Ownership and threads as for CScannerOptions.
#include "Scan/ScannerOptions.h"

class CScanJobSnapBackupDBOptions : public CScannerOptions {
public:
    CScanJobSnapBackupDBOptions();
    ~CScanJobSnapBackupDBOptions() override;

    CKxError LoadConfiguration(const std::string& applicationId) override;
};

using CScanJobSnapBackupDBOptionsPtr = std::shared_ptr<CScanJobSnapBackupDBOptions>;
