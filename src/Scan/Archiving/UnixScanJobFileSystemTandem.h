#pragma once
// CUnixScanJobFileSystemTandem: the archiving job (type 42, "-stub"). It is the file-system job
// that also picks, per volume, the files to become stubs by the subclient's disk-cleanup rules
// ("archiving" in the subclient's configuration) and lists them in the stub collect file
// ("StubCollect.zvf"), with each decision in Log_Files/ArchiveJobStatistics.log when
// "reportCandidates" is set. See CScanFileSystemTandemJobCallback and CArchiveEvaluator.
//
// Ownership and threads: as CScanJobFileSystem.
#include "Scan/ScanJobFileSystem.h"

class CUnixScanJobFileSystemTandem : public CScanJobFileSystem {
public:
    // "ScanJob/FileSystem/Tandem".
    std::string AsString() const override { return CScanJobFileSystem::AsString() + "/Tandem"; }
    // The file-system job's configuration, then the archiving rules into the bag.
    [[nodiscard]] CKxError Configure() override;
    // The file-system job's preparation, then the stub collect file and the report opened.
    [[nodiscard]] CKxError Prepare() override;
    // The directory-change buffers, then the stub collect file put in place.
    [[nodiscard]] CKxError Cleanup_FlushDirchangeToDisk() override;
};
