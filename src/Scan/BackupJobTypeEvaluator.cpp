#include "Scan/BackupJobTypeEvaluator.h"

#include "Base/HotPath.h"
#include "Base/LogWriter.h"
#include "Scan/ATimePreserver.h"
#include "Scan/DataClassificationItemInterface.h"
#include "Scan/ItemBagId.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/Unix/VolumeBackupStatusData.h"

#include <string_view>

namespace Id = SXScannerConfigurationBagId;

namespace {
// Per-item decisions are logged at this level, only when the writer is above 3.
constexpr int kEvidenceLevel = 4;

bool BagFlag(const CItem& item, const char* key)
{
    if (!item.HasBag())
        return false;
    bool value = false;
    return const_cast<CItem&>(item).GetBag().Read(key, value).IsSuccess() && value;
}

// Collects the evidence of one decision when the log wants it.
class CEvidence {
public:
    explicit CEvidence(const CItem& item) : m_enabled(CLogWriter::Instance().Level() > 3)
    {
        if (m_enabled)
            m_text = KxFormat("%s '%s'", item.IsFolder() ? "Folder" : "File",
                              item.GetSourceFullyQualifiedItemName().c_str());
    }
    bool Enabled() const { return m_enabled; }
    const char* Name() const { return m_text.c_str(); }
    template <typename... Args>
    void Append(const char* format, Args... args)
    {
        if (m_enabled)
            m_text += KxFormat(format, args...);
    }
    bool Decide(bool selected)
    {
        if (m_enabled)
            FSLOG(kEvidenceLevel, "%s%s", m_text.c_str(), selected ? " selected" : " not selected");
        return selected;
    }

private:
    bool m_enabled;
    std::string m_text;
};
}  // namespace

CBackupJobTypeEvaluator::CBackupJobTypeEvaluator(std::shared_ptr<CVolumeBackupStatusData> status)
    : m_status(std::move(status))
{
}

CBackupJobTypeEvaluator::~CBackupJobTypeEvaluator() = default;

CKxError CBackupJobTypeEvaluator::Initialize(unsigned long backupType, const CTimeStamp& referenceTime,
                                             const CBagPtr& bag, IDirChangePtr previous)
{
    m_backupType = backupType;
    m_referenceUsn = 0;
    m_referenceTime = CTimeStamp();
    m_previous.reset();
    CVolumeBackupStatusData status;
    if (m_status)
        status.Copy(*m_status);
    else
        status.SetRefTime(referenceTime);

    // A full job compares with nothing: the previous record would only hold items back.
    if (backupType != kFullBackup)
        m_previous = std::move(previous);
    if (backupType == kIncrementalBackup) {
        m_referenceUsn = status.GetLastUsn();
        m_referenceTime = status.GetRefTime();
    } else if (backupType == kDifferentialBackup) {
        m_referenceUsn = status.GetFullUsn();
        m_referenceTime = status.GetRefTime();
    } else if (backupType != kFullBackup) {
        m_referenceUsn = status.GetRefTime() == referenceTime ? status.GetLastGoodUsn() : status.GetLastUsn();
    }

    m_useMTime = true;
    m_useCTime = true;
    m_useArchiveBit = false;
    m_identifyACLOnly = false;
    m_includeEmptyFolders = false;
    if (bag) {
        m_identifyACLOnly = bag->GetBool(Id::idIdentifyACLOnlyItem);
        if (bag->Read(Id::idUseMTime, m_useMTime).IsError()) {
            FSLOG(3, "Use MTime option is not set; Force use MTime");
            m_useMTime = true;
        }
        if (bag->Read(Id::idUseCTime, m_useCTime).IsError()) {
            FSLOG(3, "Use CTime option is not set; Force use CTime");
            m_useCTime = true;
        }
        m_useArchiveBit = bag->GetBool(Id::idUseArchiveBit);
        m_includeEmptyFolders = bag->GetBool(Id::idIncludeEmptyFoldersInIncrementalBackup);
    }
    m_previousPresent = static_cast<bool>(m_previous);
    // Rule 8 takes every item when there is no reference time, and the only rule before it that
    // leaves an item out (2) needs the previous record: a full job takes everything.
    m_takesEverything = m_referenceTime.Seconds() == 0 && !m_previousPresent;
    m_useUsn.store(true, std::memory_order_relaxed);
    m_useDataClassification.store(true, std::memory_order_relaxed);
    FSLOG(3, "Evaluator, USN>=%lld, TimeStamp>=%s MTime:%s CTime:%s IDirChange:%s IncludeEmptyDirectoriesInInc:%s",
          static_cast<long long>(m_referenceUsn),
          m_referenceTime.Seconds() == 0 ? "0" : m_referenceTime.AsLocalString().c_str(), m_useMTime ? "YES" : "NO",
          m_useCTime ? "YES" : "NO", m_previousPresent ? "set" : "not set", m_includeEmptyFolders ? "YES" : "NO");
    return CKxError::Success();
}

CKxError CBackupJobTypeEvaluator::Complete() { return CKxError::Success(); }

bool CBackupJobTypeEvaluator::IsMetadataOnlyCandidate(const CItem& item)
{
    return item.IsRegularFile() && !item.IsOffline() && BagFlag(item, SXBagId::idExtentQualifiedFile);
}

bool CBackupJobTypeEvaluator::IsKnownToPrevious(const CItem& item) const
{
    std::string_view path = item.GetSourceFullyQualifiedItemName();
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return m_previous->Lookup(path, item.IsFolder() ? IDirChange::eFolder : IDirChange::eFile);
}

KX_HOT_PATH bool CBackupJobTypeEvaluator::IsSelected(const CItemPtr& itemPtr)
{
    if (m_takesEverything && !CLogWriter::Instance().Enabled(kEvidenceLevel))
        return true;
    CItem& item = *itemPtr;
    CEvidence evidence(item);

    // 1. Sequence number.
    if (m_useUsn.load(std::memory_order_relaxed)) {
        long long usn = 0;
        const CKxError read =
            item.HasBag() ? item.GetBag().Read(SXBagId::idUSN, usn) : CKxError(KxCode::NotFound, std::string());
        if (read.Code() == KxCode::NotFound) {
            m_useUsn.store(false, std::memory_order_relaxed);
        } else if (read.IsSuccess()) {
            evidence.Append(" FileUsn=%lld ReferenceUsn=%lld", usn, static_cast<long long>(m_referenceUsn));
            if (usn >= m_referenceUsn)
                return evidence.Decide(true);
        }
    }

    // 2. Metadata-only item fed back from the previous job's lists.
    if (m_identifyACLOnly && m_previousPresent && BagFlag(item, SXBagId::idItemACLOnlyCommitOrFailed) &&
        IsMetadataOnlyCandidate(item)) {
        FSLOG(3, "ACL only item [%s]. Skip from collect file and add to DirChange.",
              item.GetSourceFullyQualifiedItemName().c_str());
        (void)item.GetBag().Write(SXBagId::idDirChangeItemACLOnly, true);
        return evidence.Decide(false);
    }

    // 3-6. Marks set by earlier links.
    if (BagFlag(item, SXBagId::idPostProcessQualified)) {
        FSLOG(kEvidenceLevel, "%s is selected for backup by Post-Processing.", evidence.Name());
        return evidence.Decide(true);
    }
    if (BagFlag(item, SXBagId::idDeleted)) {
        FSLOG(kEvidenceLevel, "%s is deleted in this job", evidence.Name());
        return evidence.Decide(true);
    }
    if (item.isNewInImage()) {
        FSLOG(kEvidenceLevel, "%s is new in this job", evidence.Name());
        return evidence.Decide(true);
    }
    if (m_includeEmptyFolders && item.IsFolder()) {
        FSLOG(kEvidenceLevel, "%s included since IncludeEmptryDirectoriesInIncremetnal is ON", evidence.Name());
        return evidence.Decide(true);
    }

    bool skipTimes = false;
    // 7. Data classification.
    if (m_useDataClassification.load(std::memory_order_relaxed)) {
        auto classified = std::dynamic_pointer_cast<CDataClassificationItemInterface>(
            item.GetInterface(CDataClassificationItemInterface::kInterfaceId));
        if (!classified) {
            m_useDataClassification.store(false, std::memory_order_relaxed);
        } else {
            const CTimeStamp updated = classified->GetLastDcUpdateTime();
            evidence.Append(" DataClassification evaluation, DCtime=%lld RefTime=%lld",
                            static_cast<long long>(updated.Seconds()),
                            static_cast<long long>(m_referenceTime.Seconds()));
            if (updated >= m_referenceTime)
                return evidence.Decide(true);
            skipTimes = true;
        }
    }

    // 8. Times.
    if (!skipTimes) {
        const CTimeStamp written = item.GetLastWriteTime();
        const CTimeStamp changed = item.GetLastChangeTime();
        evidence.Append(" mtime=%lld ctime=%lld RefTime=%lld", static_cast<long long>(written.Seconds()),
                        static_cast<long long>(changed.Seconds()), static_cast<long long>(m_referenceTime.Seconds()));
        if (m_referenceTime.Seconds() == 0)
            return evidence.Decide(true);
        if (m_useMTime && written >= m_referenceTime)
            return evidence.Decide(true);
        if (m_useCTime && changed >= m_referenceTime) {
            // 8a. Only the change time moved: perhaps only the metadata changed.
            if (m_aTimePreserver && item.IsRegularFile())
                return evidence.Decide(m_aTimePreserver->IsSelected(itemPtr));
            if (m_identifyACLOnly && m_previousPresent && IsMetadataOnlyCandidate(item)) {
                if (!IsKnownToPrevious(item)) {
                    FSLOG(3, "declaring item [%s] as new in image", item.GetSourceFullyQualifiedItemName().c_str());
                    item.setNewInImage();
                    return evidence.Decide(true);
                }
                FSLOG(5, "Identified ACL only item [%s]", item.GetSourceFullyQualifiedItemName().c_str());
                (void)item.GetBag().Write(SXBagId::idDirChangeItemACLOnly, true);
                return evidence.Decide(false);
            }
            return evidence.Decide(true);
        }
    }

    // 9. Old times: new to this subclient when the previous record does not know it.
    if (m_previousPresent) {
        if (!IsKnownToPrevious(item)) {
            FSLOG(3, "declaring item [%s] as new in image", item.GetSourceFullyQualifiedItemName().c_str());
            item.setNewInImage();
            return evidence.Decide(true);
        }
        return evidence.Decide(false);
    }
    return evidence.Decide(false);
}
