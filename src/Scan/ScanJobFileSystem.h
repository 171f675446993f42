#pragma once
// CScanJobFileSystem: the ordinary file-system backup scan (job types 2, 5 and 15) and the
// base of most other scan jobs. It runs the common life cycle of CScanJob; its configuration,
// preparation, walk and clean-up chains build on that life cycle.
//
// Ownership and threads as for CScanJob.
#include "Scan/ScanJob.h"

class CScanJobFileSystem : public CScanJob {
public:
    CScanJobFileSystem();
    ~CScanJobFileSystem() override;

    // "ScanJob/FileSystem".
    std::string AsString() const override;
};

using CScanJobFileSystemPtr = std::shared_ptr<CScanJobFileSystem>;
