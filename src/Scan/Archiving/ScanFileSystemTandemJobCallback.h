#pragma once
// CScanFileSystemTandemJobCallback: the callback of archiving jobs. Each volume's chain is the
// Unix callback's with the archiving link in front (CStubCandidateConsumer): the volume's archive
// evaluator picks the files to become stubs, which go to the job's stub collect file.
//
// The evaluator of a volume (GetArchiveEvaluator), made once per volume and shared by its
// chains: for an ad hoc job a CAlwaysArchiveEvaluator (the content is what the operator chose);
// with no archiving rules, one that selects nothing; otherwise from the volume's space
// (statvfs: the fragment size, or the block size, as the block; T = block x blocks): a volume
// whose free space (block x blocks available) is at or below the low watermark (T x
// "Tandem::LowPercentDiskSpace" / 100) gets a CArchiveEvaluator with T x
// "Tandem::HighPercentDiskSpace" / 100 less the free space as the bytes to free; any other volume,
// or one whose space cannot be read, one that selects nothing ("There is nothing to archive for
// volume ...").
//
// Thread: GetOutputHandler from every worker (m_evaluatorsLock guards the evaluators);
// StartArchiving and FinishArchiving on the driver's thread, before and after the walk.
#include "Engine/ItemEvaluator.h"
#include "Scan/Archiving/StubCollectFile.h"
#include "Scan/Unix/UnixScanJobCallback.h"

#include <map>
#include <mutex>
#include <string>

class CStatsLogWriter;

class CScanFileSystemTandemJobCallback : public CUnixScanJobCallback {
public:
    CScanFileSystemTandemJobCallback();
    ~CScanFileSystemTandemJobCallback() override;

    // "UnixScanJobCallback/Tandem".
    std::string AsString() const override;
    [[nodiscard]] CKxError GetOutputHandler(const std::string& volume, CConsumerOutputHandlerPtr& handler) override;
    [[nodiscard]] virtual CKxError GetArchiveEvaluator(const std::string& volume, CItemEvaluatorPtr& evaluator);
    // Opens the stub collect file at `stubCollect` and, with "Tandem::idReportStubbingCandidates",
    // the stubbing report (Log_Files/ArchiveJobStatistics.log).
    [[nodiscard]] CKxError StartArchiving(const std::string& stubCollect);
    // Puts the stub collect file in place; `candidates` gets the number of files it lists.
    [[nodiscard]] CKxError FinishArchiving(std::uint64_t& candidates);

private:
    [[nodiscard]] CKxError MakeArchiveEvaluator(const std::string& volume, CItemEvaluatorPtr& evaluator);

    std::mutex m_evaluatorsLock;  // guards m_evaluators
    std::map<std::string, CItemEvaluatorPtr> m_evaluators;  // by volume
    CStubCollectFilePtr m_stubs;
    std::shared_ptr<CStatsLogWriter> m_report;
};
