#include "Scan/Dirchange/ScanJobFileSystemSQLiteDirchange.h"

#include "Base/FXFile.h"
#include "Base/LogWriter.h"
#include "Scan/Dirchange/ScanJobFileSystemCallbackSQLiteDirchange.h"
#include "Scan/FileNameFactory.h"
#include "Scan/IncrementalDirChange.h"
#include "Scan/ScannerConfigurationBagId.h"

namespace Id = SXScannerConfigurationBagId;

namespace {
constexpr unsigned long kFullBackup = 1;
}

CScanJobFileSystemSQLiteDirchange::CScanJobFileSystemSQLiteDirchange() = default;

CScanJobFileSystemSQLiteDirchange::~CScanJobFileSystemSQLiteDirchange() = default;

CKxError CScanJobFileSystemSQLiteDirchange::PrepareDirChange(const CBag& bag)
{
    auto callback = std::dynamic_pointer_cast<CScanJobFileSystemCallbackSQLiteDirchange>(m_callback);
    if (!callback || !m_fileNameFactory) {
        FSLOG(0, "m_ptrScanJobCallback is not initialized, not setting previous job dir change");
        return CKxError::Success();
    }
    FSLOG(0, "Last job was %sa full job", IsLastJobFull() ? "" : "not ");
    const std::string pending = m_fileNameFactory->ConsolidatedDirChangeTemp();
    if (!bag.GetBool(Id::idRetryScanAttempt) && FXFile::Exists(pending)) {
        FSLOG(0, "Removing [%s], the database of a job that did not finish", pending.c_str());
        KX_RETURN_IF_ERROR(CX::CContentContainer::Remove(pending));
    }
    m_store = std::make_shared<CX::CContentContainer>();
    m_store->SetName(pending);
    KX_RETURN_IF_FAILED(m_store->OpenExistingOrCreate(), "failed to initialize the SQLite DirChange");
    callback->SetDirchangeStore(m_store);

    const bool full = m_backupType == kFullBackup;
    const std::string previous = m_fileNameFactory->ConsolidatedDirChange(IsLastJobFull() ? kFullBackup : 2);
    const std::string reference = m_backupType == 4 ? m_fileNameFactory->ConsolidatedDirChange(kFullBackup) : previous;
    m_callback->SetDirChangeRecordPaths(previous, reference);
    if (full) {
        m_callback->SetPreviousDirChangeInterface(nullptr);
        return CKxError::Success();
    }
    // Without a usable previous database nothing is known: every item is taken as new.
    constexpr const char* kTakesEveryItem = "this job takes every item, as a full would, and reports no deleted items";
    auto view = std::make_shared<CX::CContentContainerDirChange>();
    if (!FXFile::Exists(reference)) {
        FSLOG(0, "previous dir change [%s] not found", reference.c_str());
        if (IsPreviousJobKnown())
            IncrementalDirChange::RaisePreviousRecordUnusable(reference, "it is missing", kTakesEveryItem);
    } else if (CKxError opened = view->Open(reference); opened.IsError()) {
        FSLOG_ERROR("failed to set previous DirChange [%s], it is treated as absent: %s", reference.c_str(),
                    opened.AsString().c_str());
        IncrementalDirChange::RaisePreviousRecordUnusable(reference, opened.Message(), kTakesEveryItem);
        view = std::make_shared<CX::CContentContainerDirChange>();
    }
    m_callback->SetPreviousDirChangeInterface(view);
    return CKxError::Success();
}

CKxError CScanJobFileSystemSQLiteDirchange::Cleanup_CloseDirchange()
{
    if (m_callback) {
        KX_RETURN_IF_ERROR(m_callback->FlushBuffers());
        m_callback->CleanupPreviousDirChangeInterface();
    }
    if (!m_store)
        return CKxError::Success();
    FSLOG(0, "Closing SQLite Dirchange");
    // The file keeps its pending name: the backup phase puts it in place once it succeeded.
    return m_store->Close();
}
