#include "Scan/BackupJobTypeEvaluator.h"

#include "Base/LogWriter.h"
#include "Scan/ScannerConfigurationBagId.h"

namespace Id = SXScannerConfigurationBagId;

CBackupJobTypeEvaluator::CBackupJobTypeEvaluator() = default;

CBackupJobTypeEvaluator::~CBackupJobTypeEvaluator() = default;

CKxError CBackupJobTypeEvaluator::Initialize(unsigned long backupType, const CTimeStamp& referenceTime,
                                             const CBagPtr& bag)
{
    m_backupType = backupType;
    m_referenceTime = backupType == kFullBackup ? CTimeStamp() : referenceTime;
    m_useMTime = true;
    m_useCTime = true;
    if (bag) {
        if (bag->Read(Id::idUseMTime, m_useMTime).IsError()) {
            FSLOG(3, "Use MTime option is not set; Force use MTime");
            m_useMTime = true;
        }
        if (bag->Read(Id::idUseCTime, m_useCTime).IsError()) {
            FSLOG(3, "Use CTime option is not set; Force use CTime");
            m_useCTime = true;
        }
    }
    FSLOG(3, "Evaluator, backup type %lu, TimeStamp>=%s MTime:%s CTime:%s", m_backupType,
          m_referenceTime.AsLocalString().c_str(), m_useMTime ? "YES" : "NO", m_useCTime ? "YES" : "NO");
    return CKxError::Success();
}

bool CBackupJobTypeEvaluator::IsSelected(const CItemPtr& item)
{
    if (m_backupType == kFullBackup || m_referenceTime.Seconds() == 0)
        return true;
    if (item->IsFolder() || item->isNewInImage())
        return true;
    // At or after: an item written in the reference second itself is taken again.
    if (m_useMTime && item->GetLastWriteTime() >= m_referenceTime)
        return true;
    return m_useCTime && item->GetLastChangeTime() >= m_referenceTime;
}

CKxError CBackupJobTypeEvaluator::Complete() { return CKxError::Success(); }
