#pragma once
// CRawDeviceScanEngine: content that names a block device is backed up as the device's
// data: one CRawDeviceItem of the device's size, nothing walked.
#include "Engine/ScanEngine.h"

class CRawDeviceScanEngine : public CScanEngine {
public:
    CRawDeviceScanEngine() = default;
    ~CRawDeviceScanEngine() override;

    std::string AsString() const override { return "CRawDeviceScanEngine"; }
    bool AcceptsRoot(const CWalkRoot& root) const override;
    [[nodiscard]] CKxError Scan(CScanContext& context, CWorkUnit& unit,
                                const std::vector<const CWalkRoot*>& roots) override;
};
