#include "Scan/Unix/UnixTrueUpJobHandle.h"

#include "Agent/BackupIndex.h"
#include "Base/FXCodeLocation.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/LogWriter.h"
#include "CollectFile/PathCacheFlatFileIndex.h"
#include "CollectFile/PathCacheFlatFileIndexBuffer.h"
#include "Scan/Dirchange/TrueUpItemFormatter.h"
#include "Scan/Dirchange/TrueUpItemParser.h"
#include "Scan/IncrementalDirChange.h"
#include "Scan/ScanJobCallback.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/ScannerSettings.h"
#include "Scan/Unix/UnixTrueUpDifferenceCallback.h"

#include <chrono>
#include <ctime>

namespace Id = SXScannerConfigurationBagId;

namespace {
double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}
}  // namespace

CUnixTrueUpJobHandle::CUnixTrueUpJobHandle(STrueUpConfig config)
    : CTrueUpJobHandle(std::move(config)), m_stateManager(m_config.resultsFolder)
{
}

CUnixTrueUpJobHandle::~CUnixTrueUpJobHandle() = default;

std::string CUnixTrueUpJobHandle::GetDirChangePath() const
{
    return FXPath::Append(m_config.resultsFolder, kDirChangeFileName);
}

CKxError CUnixTrueUpJobHandle::InitializeTrueUpJob()
{
    if (!m_config.bag)
        return CKxError(KxCode::InvalidParameter, "configuration bag is NULL, could not perform Configure_TrueUpJob");
    const CBag& bag = *m_config.bag;
    STrueUpQualifyInput input;
    input.skipped = CScannerSettings::GetInteger(bag, Id::idTrueUpSkipped, 0) != 0;
    input.fileServerTrueUp = bag.GetBool(Id::idFileServerTrueUp);
    input.enabled = bag.GetBool(Id::idTrueUpEnabled);
    input.forced = m_config.forced;
    input.afterSynthFull = m_config.afterSynthFull;
    input.backupType = m_config.backupType;
    input.days = static_cast<unsigned>(CScannerSettings::GetInteger(bag, Id::idDaysToTrueUp, 0));
    input.now = static_cast<long long>(std::time(nullptr));
    // A state that cannot be read owes nothing we know of: the job runs as if there were none.
    if (CKxError loaded = m_stateManager.LoadStateFromDoc(input.state, input.stateFound); loaded.IsError()) {
        FSLOG_ERROR("%s; it is taken as missing", loaded.AsString().c_str());
        input.stateFound = false;
    }
    m_state = input.state;
    m_decision = IsJobQualifiedForRunningTrueUp(input);
    const bool laptop = bag.GetBool(Id::idLaptopClient);
    if (m_decision == ETrueUpDecision::NotQualified) {
        FSLOG(0, "Job doesn't qualify for TrueUp");
        return CKxError::Success();
    }
    KX_RETURN_IF_ERROR(m_config.bag->Write(Id::idTrueUpMarkAtBackup, true));
    m_state.jobId = m_config.jobId;
    m_state.jobType = m_config.backupType;
    m_state.laptop = laptop;
    m_state.queryIndexSet = false;
    m_state.dcReadyForScan = false;
    if (m_decision == ETrueUpDecision::FullMarksComplete)
        return m_stateManager.SaveStatetoDoc(m_state);

    KX_RETURN_IF_ERROR(m_config.bag->Write(Id::idTrueUpQualified, true));
    FSLOG(0, laptop ? "Running TrueUp for laptop client" : "Running TrueUp for non-laptop client");
    // A laptop's backups are queried in this scan like any client's: there is no later phase for it.
    if (laptop)
        FSLOG(0, "Query archive for laptop client in this job");
    bool useCtime = bag.GetBool(Id::idUseCTime, true);
    const bool useMtime = bag.GetBool(Id::idUseMTime, true);
    std::string preserve;
    if (useCtime && CScannerSettings::GetString("sPreserveATime", preserve) &&
        CScannerSettings::StartsWith(preserve, 'Y')) {
        FSLOG(0, "Preserve Access Time Registry key [sPreserveATime]=[Y] is set, Disabling TrueUp comparison using "
                 "ctime");
        useCtime = false;
    }
    const bool skipStubs = bag.GetBool(Id::isHonorArchiveRetention);
    if (skipStubs)
        FSLOG(0, "Job based retention is enabled; Disable backup of stubs during TrueUp");
    m_options = CTrueUpCompareOptions(!useCtime, !useMtime, skipStubs);
    FSLOG(0, "TrueUp comparison using CTime [%d], MTime [%d]", useCtime ? 1 : 0, useMtime ? 1 : 0);
    return CKxError::Success();
}

CKxError CUnixTrueUpJobHandle::GenerateTrueUpDirChange(IBackupIndex& backups, const std::string& path,
                                                       std::uint64_t& items)
{
    items = 0;
    auto index = std::make_shared<CPathCacheFlatFileIndex>();
    index->SetItemInfoFormatter(std::make_shared<CTrueUpItemFormatter>());
    KX_RETURN_IF_FAILED(index->SetCurrentBackingFile(path, nullptr), "Failed to create [%s]", path.c_str());
    CPathCacheFlatFileIndexBuffer buffer(index);
    char text[CTrueUpItemFormatter::kMaxText];
    // What the backups hold was never selected by this job: collect number 0, not selected.
    const size_t fixed = CDirChangeItemFormatter::FormatFields(false, 0, 0, false, text);
    KX_RETURN_IF_ERROR(backups.Browse([&](const SIndexItem& entry) -> CKxError {
        const bool folder = entry.kind == 'd';
        const size_t length =
            fixed + CTrueUpItemFormatter::FormatFields(entry.mtime, entry.ctime, folder ? 0 : entry.size, entry.kind,
                                                       text + fixed);
        ++items;
        return buffer.AddText(entry.path, !folder, std::string_view(text, length), FXCodeLocation::Here(),
                              "TrueUpBrowseIndex");
    }));
    KX_RETURN_IF_ERROR(buffer.CloseFile());
    KX_RETURN_IF_FAILED(index->Close(), "Failed to close [%s]", path.c_str());
    return CKxError::Success();
}

CKxError CUnixTrueUpJobHandle::TrueUpBrowseIndex()
{
    if (!IsQualified())
        return CKxError::Success();
    FSLOG(0, "Processing TrueUp DirChange File");
    const std::string path = GetDirChangePath();
    std::uint64_t items = 0;
    const auto started = std::chrono::steady_clock::now();
    CKxError generated = m_config.index ? GenerateTrueUpDirChange(*m_config.index, path, items)
                                        : CKxError(KxCode::NotFound, "No backup index for this subclient");
    if (generated.IsError()) {
        // The backups cannot be asked: this job runs as a plain incremental and the state, left
        // as it was, still owes the true-up to the next job.
        FSLOG_ERROR("Failed to generate information necessary to perform TrueUp job, error=%s",
                    generated.AsString().c_str());
        (void)FXFile::Remove(path);
        m_decision = ETrueUpDecision::NotQualified;
        KX_RETURN_IF_ERROR(m_config.bag->Write(Id::idTrueUpQualified, false));
        return m_config.bag->Write(Id::idTrueUpMarkAtBackup, false);
    }
    FSLOG(0, "TrueUp DirChange file [%s] holds %llu items of the backup index (%.3f s)", path.c_str(),
          static_cast<unsigned long long>(items), Seconds(started));
    m_browsed = true;
    // Owed until the backup phase of this job completes: a failed phase leaves it for the next job.
    m_state.queryIndexSet = true;
    return m_stateManager.SaveStatetoDoc(m_state);
}

CKxError CUnixTrueUpJobHandle::ProcessTrueUpToCollect()
{
    // A job whose preparation stopped before the browse, or before its record was made, has
    // nothing to compare: its clean-up reports the failure that stopped it.
    std::shared_ptr<CPathCacheFlatFileIndex> record = IncrementalDirChange::GetIndex();
    if (!m_browsed || !record || !m_config.callback)
        return CKxError::Success();
    CScanJobCallback& callback = *m_config.callback;
    // What the walk and the owed items left in the stages' buffers is compared too.
    KX_RETURN_IF_FAILED(callback.FlushBuffers(), "TrueUp processing failed");
    FSLOG(0, "Start TrueUp comparison");
    const auto started = std::chrono::steady_clock::now();
    CUnixTrueUpDifferenceCallback differences(callback, m_options);
    if (CKxError compared = record->CompareWith(GetDirChangePath(), std::make_shared<CTrueUpItemParser>(), differences);
        compared.IsError())
        return std::move(compared.Push(KxFormat("TrueUp processing failed, error=%s", compared.Message().c_str())));
    // The items added reach the record before the ordinary comparison reads it.
    KX_RETURN_IF_FAILED(callback.FlushBuffers(), "TrueUp collect consumer failed");
    m_added = differences.Added();
    FSLOG(0, "%lld files/folders backed up by TrueUp", static_cast<long long>(m_added));
    FSLOG(0, "TrueUp wrote %llu deletion lines, added %llu new folders (%.3f s)",
          static_cast<unsigned long long>(differences.Deleted()),
          static_cast<unsigned long long>(differences.NewFolders()), Seconds(started));
    return CKxError::Success();
}

CKxError CUnixTrueUpJobHandle::MarkTrueUpJobComplete()
{
    if (m_decision == ETrueUpDecision::NotQualified)
        return CKxError::Success();
    KX_RETURN_IF_FAILED(m_stateManager.MarkComplete(m_config.jobId, static_cast<long long>(std::time(nullptr))),
                        "Failed to mark TrueUp job");
    if (m_added == 0)
        FSLOG(0, "Successfully changed TrueUp state as no files were qualified for backup");
    return CKxError::Success();
}
