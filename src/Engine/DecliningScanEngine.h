#pragma once
// CDecliningScanEngine: the base of engines for storage this system does not walk itself
// (parallel cluster file systems with their own policy scans, classification indexes, change
// journals, distributed stores). They accept no root, so the next engine of the list walks
// it as an ordinary file system; Scan is never called and fails if it is.
#include "Engine/ScanEngine.h"

class CDecliningScanEngine : public CScanEngine {
public:
    explicit CDecliningScanEngine(std::string name) : m_name(std::move(name)) {}
    ~CDecliningScanEngine() override;

    std::string AsString() const override { return m_name; }
    bool AcceptsRoot(const CWalkRoot&) const override { return false; }
    [[nodiscard]] CKxError Scan(CScanContext& context, CWorkUnit& unit,
                                const std::vector<const CWalkRoot*>& roots) override;

private:
    std::string m_name;
};
