#pragma once
// CUnixScanJobCallback: the callback of Unix file-system scans. Besides the common callback it
// makes the Unix scanner options and results-file names, decides which engines walk the
// content, builds per source volume the output resource (collect file, directory-change
// writer, ancestor writer) and each worker's consumer chain over it, resolves symbolic links,
// records scan failures, hands the clean-up chain its splitter and empty-file remover, and adds
// the Unix fragments of the next-phase arguments.
//
// A volume's chain, in the order an item meets it (each link only under its condition):
//   user-centric skip ("SC:UserCentricClientImpersonate"), file-system skip (unless a Hadoop
//   scan, "DontCreateSkipFSConsumer" or client app type 2), raw device, backup-after date
//   ("SC:BackupAfterDate" non-zero), force full ("SC:idForceFullScan"), long path
//   ("SC:LongPathEnabled", not in a long-path pass), symbolic link ("SC:FollowSymLink"),
//   AppleDouble ("SC:AppleDouble", not on an HFS volume), extent-level backup
//   ("RegKey:MultiStreamExtentBackup" with "SC:ExtentBackupFileSize", not a Hadoop scan), newest
//   change time (max-ctime tracking), hard links ("HL:enable": CHardLinkInterfaceV2 with the
//   newer index, else V1), and last the output stage: the items the backup-type evaluator
//   selects to the ancestor writer and the collect file (a hard-linked file under V2: to the
//   job's HardLinkManager instead), then every item, with the selection made, to the
//   directory-change writer (IncrementalDirChange on the job's record).
//
// Ownership and threads as for CScanJobCallback. GetOutputHandler is called by every worker;
// a volume's output resource is made once, under the output-resource lock, and shared by all
// of its chains.
#include "Scan/ScanJobCallback.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CBackupStatusFile;
class HardLinkManager;
class CContentRootAncestorConsumer;
class skipFS;

class CUnixScanJobCallback : public CScanJobCallback {
public:
    // Collect-writer types of GetFlatCollectFile.
    static constexpr int kWorkUnitCollect = 1;
    static constexpr int kFailedItemsList = 2;

    CUnixScanJobCallback();
    ~CUnixScanJobCallback() override;

    std::string AsString() const override;
    // The common options; with "SC:MultipleReadersWithinSameMount" each disk is read by several
    // streams at once.
    [[nodiscard]] CKxError GetPostProcessingOptionsInstance(std::shared_ptr<CPostProcessingOptions>& options) override;
    // The common steps, then the Unix fragments in the order the backup phase reads them.
    [[nodiscard]] CKxError GetNextPhaseArguments(std::string& arguments, int& action) override;

    // The chain for one volume (the local path of its mount point), over the volume's output
    // resource; the resource is found by the volume's id (CVolumeId), so every path of one
    // mounted file system shares it, and made on the first request.
    [[nodiscard]] CKxError GetOutputHandler(const std::string& volume, CConsumerOutputHandlerPtr& handler) override;
    // A Hadoop scan: its own engine only. Otherwise raw devices, the parallel file system's
    // scan when "RegKey:GpfsScan", the data-classification and change-journal engines, then the
    // ordinary walk; the first that accepts a root walks it.
    [[nodiscard]] CKxError GetScanEngineList(CScanEngineList& engines) override;
    // The writers of the volume's output resource and a fresh evaluator; an errno error
    // (ENOENT) "outputResource not found for sourceVolume[%s] ID[%s]" when it has none yet.
    [[nodiscard]] CKxError GetOutputResources(const std::string& volume, CItemConsumerPtr& collect,
                                              CItemConsumerPtr& dirChange, CItemEvaluatorPtr& evaluator,
                                              CItemConsumerPtr& ancestors) override;
    // Type 1: the collect file numbered `index`, created (emptied) now. The failed-items list
    // (type 2) is not a collect file: it is reached through GetScanFailureConsumer, and this
    // answers error 87 for it; other types are unknown (error 87, "unknown file type %d").
    [[nodiscard]] CKxError GetFlatCollectFile(std::shared_ptr<CFlatCollectFile>& collect, int type, int index,
                                              const std::string& volume) override;
    // The link's target: its text without a leading "./", taken relative to the link's folder
    // when not absolute, made absolute without "." and ".." parts, and stat'ed (following
    // links). A link that cannot be read is an errno error and the item carries the errno; a
    // target that cannot be stat'ed (a dangling link) is no target.
    [[nodiscard]] CKxError GetItemFromSymLink(const CItemPtr& item, CItemPtr& target) override;
    // Both write one line to the failure list: the path as given (a trailing '/' marks a
    // folder), the error's code as its error number. Always success; a failure to record is
    // logged.
    [[nodiscard]] CKxError ReportScanFailure(const CItemPtr& item, const CKxError& error) override;
    [[nodiscard]] CKxError ReportScanFailure(const std::string& path, const CKxError& error) override;
    // The subclient's backup status file ("cjInfoTot.zvf").
    [[nodiscard]] CKxError CreateStatusFile(const std::string& subclientResultsFolder) override;
    // The splitter over the job's output resources, numbering new pieces after the last
    // collect file the walk made: the extent splitter with "RegKey:MultiStreamExtentBackup",
    // else the ordinary one.
    [[nodiscard]] CKxError GetSplitCollectFileInterface(std::shared_ptr<ISplitCollectFiles>& splitter) override;
    // The remover of collect files without content, told the roots whose ancestor lines the
    // ancestor writers put in the collect files.
    [[nodiscard]] CKxError GetPostProcessCollectFilesInterface(
        std::shared_ptr<CPostProcessCollectFiles>& postProcess) override;
    // The Unix subclient files backup (CUnixPostProcessResultFolder).
    [[nodiscard]] CKxError GetPostProcessResultFolderInterface(
        std::shared_ptr<CFileSystemPostProcessResultFolder>& postProcess) override;
    // Each content path (for wildcard content, its fixed folder) that no item of the walk
    // reached and that exists is passed through the output handler of the volume that holds
    // it, so that the backup phase knows it. A path that does not exist was reported by the
    // walk and is left. An output handler that cannot be had, or a write failure, is returned.
    [[nodiscard]] CKxError ProcessEmptyScanContent(const std::vector<std::string>& contentPaths) override;
    // This system's backup phase learns mount points from the collect files and the
    // "-MntDetails" argument, so no mount configuration file is written.
    [[nodiscard]] CKxError CreateMountConfigFile() override;
    // The mount point of the mounted file system that holds `path` (the nearest mounted
    // ancestor); "/" when the table says nothing better.
    std::string VolumeOf(const std::string& path) override;

    // The ancestor writer of a new output resource, writing into its collect file.
    std::shared_ptr<CContentRootAncestorConsumer> CreateAncestorConsumer(const std::shared_ptr<CFlatCollectFile>& collect);
    // The link creators: each wraps `head` when its condition holds.
    [[nodiscard]] CKxError CreateAndAddSkipFSConsumer(const std::string& volume, CItemConsumerPtr& head);
    // Error 1627 when the volume's type is unknown or keeps AppleDouble data natively (HFS);
    // GetOutputHandler only logs it and goes on without the link.
    [[nodiscard]] CKxError CreateAndAddAppleDoubleConsumer(const std::string& volume, CItemConsumerPtr& head);
    [[nodiscard]] CKxError CreateAndAddUserCentricSkipConsumer(CItemConsumerPtr& head);
    [[nodiscard]] CKxError CreateAndAddExtentLevelBackupConsumer(CItemConsumerPtr& head);
    // With hard links on, the link that records the hard-linked files of collect file
    // `collectNumber` (made around the chain's last link, which it must see directly).
    [[nodiscard]] CKxError CreateAndAddHardLinkInterface(int collectNumber, CItemConsumerPtr& head);

    // The mounted file systems the chains consult (tests describe a machine with their own).
    void SetFileSystems(std::shared_ptr<skipFS> fileSystems) { m_fileSystems = std::move(fileSystems); }
    const std::shared_ptr<skipFS>& GetFileSystems() const { return m_fileSystems; }
    const std::shared_ptr<CBackupStatusFile>& GetBackupStatusFile() const { return m_backupStatusFile; }

protected:
    std::shared_ptr<CScannerOptions> MakeScannerOptions() override;
    // The Unix names; the ad hoc names for an ad hoc job ("OnDemandAdHoc::Backup").
    std::shared_ptr<CFileNameFactory> MakeFileNameFactory(unsigned int backupType,
                                                          const std::string& resultsFolder) override;
    // The directory-change writer of the output stage numbered `index`: an IncrementalDirChange
    // on the job's record.
    [[nodiscard]] virtual CKxError MakeDirChangeConsumer(int index, CItemConsumerPtr& record);

private:
    [[nodiscard]] CKxError CreateOutputResource(int index, const std::string& volume, const std::string& sourceVolume,
                                                const std::string& volumeId, COutputResourcesPtr& resource);

    std::shared_ptr<skipFS> m_fileSystems;
    std::shared_ptr<CBackupStatusFile> m_backupStatusFile;
    std::mutex m_hardLinkLock;  // guards m_hardLinkManager
    std::shared_ptr<HardLinkManager> m_hardLinkManager;  // the job's, with hard links on
};

using CUnixScanJobCallbackPtr = std::shared_ptr<CUnixScanJobCallback>;
