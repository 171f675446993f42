#pragma once
// CFileScanVSA: the entry of virtual-server file scans. It has no factory: it builds the
// virtual-server scan job and its callback directly, runs the job, and gives its caller the
// directory-change file names and the subclient results folder of that job.
//
// Ownership: the caller owns the object; the job and callback live as long as it does, so
// that the names stay answerable after Process.
// Thread: main thread only.
#include "Agent/CommandLineArguments.h"
#include "Base/KxError.h"
#include "Scan/ScanJob.h"
#include "Scan/ScanJobCallback.h"

#include <memory>
#include <string>

class CFileScanVSA {
public:
    explicit CFileScanVSA(std::shared_ptr<CCommandLineArguments> args);
    virtual ~CFileScanVSA();

    // Reads "prefix", "directive", "j", "a" and "t", then runs the job's command line and
    // life cycle.
    [[nodiscard]] virtual CKxError Process();

    // Names through the job's file-name factory; "" before Process configured the job.
    std::string GetDirchangeFileName() const;
    std::string GetTempDirchangeFileName() const;
    std::string GetSubclientJRPath() const;
    const std::string& GetPrefix() const { return m_prefix; }
    const std::string& GetDirective() const { return m_directive; }

private:
    std::shared_ptr<CCommandLineArguments> m_args;
    CScanJobPtr m_job;
    CScanJobCallbackPtr m_callback;
    std::string m_prefix;
    std::string m_directive;
};
