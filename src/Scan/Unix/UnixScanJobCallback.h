#pragma once
// CUnixScanJobCallback: the callback of Unix file-system scans. Besides the common callback it
// makes the Unix scanner options and results-file names, and adds the Unix fragments of the
// next-phase arguments. The per-volume chains, engines and symbolic-link resolution come with
// the walk.
//
// Ownership and threads as for CScanJobCallback.
#include "Scan/ScanJobCallback.h"

class CUnixScanJobCallback : public CScanJobCallback {
public:
    CUnixScanJobCallback();
    ~CUnixScanJobCallback() override;

    std::string AsString() const override;
    // The common options; with "SC:MultipleReadersWithinSameMount" each disk is read by several
    // streams at once.
    [[nodiscard]] CKxError GetPostProcessingOptionsInstance(std::shared_ptr<CPostProcessingOptions>& options) override;
    // The common steps, then the Unix fragments in the order the backup phase reads them.
    [[nodiscard]] CKxError GetNextPhaseArguments(std::string& arguments, int& action) override;

protected:
    std::shared_ptr<CScannerOptions> MakeScannerOptions() override;
    // The Unix names; the ad hoc names for an ad hoc job ("OnDemandAdHoc::Backup").
    std::shared_ptr<CFileNameFactory> MakeFileNameFactory(unsigned int backupType,
                                                          const std::string& resultsFolder) override;
};

using CUnixScanJobCallbackPtr = std::shared_ptr<CUnixScanJobCallback>;
