#include "Scan/Archiving/ScanFileSystemTandemJobCallback.h"

#include "Agent/StatsLogWriter.h"
#include "Base/LogWriter.h"
#include "Engine/ConsumerOutputHandler.h"
#include "Scan/Archiving/AlwaysArchiveEvaluator.h"
#include "Scan/Archiving/EvaluatorNever.h"
#include "Scan/Archiving/StubCandidateConsumer.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/ScannerSettings.h"

#include <sys/statvfs.h>

#include <cerrno>

namespace Id = SXScannerConfigurationBagId;

namespace {
// A volume's block: its fragment size, or its block size when it gives no fragment size.
long long BlockOf(const struct statvfs& space)
{
    return static_cast<long long>(space.f_frsize != 0 ? space.f_frsize : space.f_bsize);
}
}  // namespace

CScanFileSystemTandemJobCallback::CScanFileSystemTandemJobCallback() = default;
CScanFileSystemTandemJobCallback::~CScanFileSystemTandemJobCallback() = default;

std::string CScanFileSystemTandemJobCallback::AsString() const { return CUnixScanJobCallback::AsString() + "/Tandem"; }

CKxError CScanFileSystemTandemJobCallback::StartArchiving(const std::string& stubCollect)
{
    CBagPtr bag = GetScannerConfigurationBag();
    if (!bag)
        return CKxError(KxCode::OperationAborted, "Bag is not initialized by ScannerOptions");
    if (bag->GetBool(Id::idReportStubbingCandidates)) {
        auto report = std::make_shared<CStatsLogWriter>("ArchiveJobStatistics", GetJobId(), "FileScan");
        if (CKxError opened = report->Open(); opened.IsError())
            FSLOG_ERROR("Failed to create CArchivingStats, stubbing/non-stubbing candidates will not be reported: %s",
                        opened.AsString().c_str());
        else
            m_report = std::move(report);
    }
    auto stubs = std::make_shared<CStubCollectFile>(stubCollect);
    KX_RETURN_IF_ERROR(stubs->Open());
    m_stubs = std::move(stubs);
    return CKxError::Success();
}

CKxError CScanFileSystemTandemJobCallback::FinishArchiving(std::uint64_t& candidates)
{
    candidates = 0;
    if (!m_stubs)
        return CKxError::Success();
    candidates = m_stubs->GetCount();
    return m_stubs->Close();
}

CKxError CScanFileSystemTandemJobCallback::GetOutputHandler(const std::string& volume, CConsumerOutputHandlerPtr& handler)
{
    KX_RETURN_IF_ERROR(CUnixScanJobCallback::GetOutputHandler(volume, handler));
    if (!m_stubs)
        return CKxError::Success();
    CItemEvaluatorPtr evaluator;
    KX_RETURN_IF_ERROR(GetArchiveEvaluator(volume, evaluator));
    handler = std::make_shared<CConsumerOutputHandler>(
        std::make_shared<CStubCandidateConsumer>(handler->GetConsumer(), std::move(evaluator), m_stubs, GetJobId()));
    return CKxError::Success();
}

CKxError CScanFileSystemTandemJobCallback::GetArchiveEvaluator(const std::string& volume, CItemEvaluatorPtr& evaluator)
{
    std::lock_guard lock(m_evaluatorsLock);
    CItemEvaluatorPtr& made = m_evaluators[volume];
    if (!made)
        KX_RETURN_IF_ERROR(MakeArchiveEvaluator(volume, made));
    evaluator = made;
    return CKxError::Success();
}

CKxError CScanFileSystemTandemJobCallback::MakeArchiveEvaluator(const std::string& volume, CItemEvaluatorPtr& evaluator)
{
    CBagPtr bag = GetScannerConfigurationBag();
    if (!bag)
        return CKxError(KxCode::OperationAborted, "Bag is not initialized by ScannerOptions");
    if (bag->GetBool(Id::idOnDemandAdHocBackupJob)) {
        FSLOG(0, "Creating AlwaysArchive evaluator for ad-hoc job");
        struct statvfs space {};
        const int block = ::statvfs(volume.c_str(), &space) == 0 ? static_cast<int>(BlockOf(space)) : 0;
        evaluator = std::make_shared<CAlwaysArchiveEvaluator>(volume, *bag, block, m_report);
        return CKxError::Success();
    }
    evaluator = std::make_shared<CEvaluatorNever>();
    // With every rule off each file would get every vote: no rules must mean no stubs.
    if (bag->GetBool(Id::idRulesDisabled)) {
        FSLOG(0, "No archiving rules are configured: nothing is archived on volume [%s]", volume.c_str());
        return CKxError::Success();
    }
    const long long high = CScannerSettings::GetInteger(*bag, Id::idHighPercentDiskSpace, 0);
    const long long low = CScannerSettings::GetInteger(*bag, Id::idLowPercentDiskSpace, 0);
    struct statvfs space {};
    if (::statvfs(volume.c_str(), &space) != 0) {
        const CKxError failed = CKxError::FromErrno(errno, "Failed to read the space of volume [" + volume + "]");
        FSLOG_ERROR("Volume [%s] skipped from archiving, error=[%s]", volume.c_str(), failed.AsString().c_str());
        return CKxError::Success();
    }
    const long long block = BlockOf(space);
    const long long total = block * static_cast<long long>(space.f_blocks);
    const long long highBytes = total * high / 100;
    const long long lowBytes = total * low / 100;
    const long long freeBytes = block * static_cast<long long>(space.f_bavail);
    FSLOG(3, "Volume=[%s] HighFreeBytes=[%lld] LowFreeByets=[%lld] BlockSize=[%d] FreeBytesOnVolume=[%lld]",
          volume.c_str(), highBytes, lowBytes, static_cast<int>(block), freeBytes);
    const long long toFree = highBytes - freeBytes;
    if (lowBytes < freeBytes || toFree <= 0) {
        FSLOG(0,
              "There is nothing to archive for volume [%s], as per High disk space percent [%d] and Low disk space "
              "percent [%d], current free bytes on volume [%lld]",
              volume.c_str(), static_cast<int>(high), static_cast<int>(low), freeBytes);
        return CKxError::Success();
    }
    FSLOG(0, "[%lld] bytes to free on Volume=[%s]", toFree, volume.c_str());
    const CTimeStamp start(bag->Get<long long>(Id::idScanStartTime, 0));
    evaluator = std::make_shared<CArchiveEvaluator>(volume, start, *bag, toFree, static_cast<int>(block), m_report);
    return CKxError::Success();
}
