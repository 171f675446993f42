#pragma once
// CFileNameFactory: the only source of results-folder file names.
//
// The backup phase that follows a scan, and the next scan of the same subclient, find every
// file of the results folder by name, so no other part of the scan spells one itself. The
// factory is a value built from the backup type and the results folder; two factories built
// from the same pair give the same names, whatever the time, job or host.
//
// Every operation returns the results folder joined with the name (FXPath::Append: exactly
// one separator), except three kinds of answer that are not paths of one file:
//   - CollectFileBaseName(): the bare stem ("NumColTot"), which readers extend with a number;
//   - the *NamePattern() operations: a bare fnmatch pattern, searched in the folder that the
//     matching *Folder() operation gives;
//   - the mount folders of the Unix factory, which lie outside the results folder.
//
// Backup type 1 is a full backup ("Tot" names); every other value (incremental,
// differential, synthetic full) takes the "Inc" names.
//
// This base carries the collect-file family of other platforms; the Unix file-system scan
// uses CUnixFileNameFactory. Thread: const operations may be called from any thread;
// DeleteSubclientFiles runs on the job's main thread before the walk.
#include <memory>
#include <string>
#include <vector>

class CFileNameFactory {
public:
    static constexpr unsigned int kFullBackup = 1;

    CFileNameFactory(unsigned int backupType, std::string resultsFolder);
    virtual ~CFileNameFactory();

    // Collect-file split map ("split_config"); the backup type does not change it.
    virtual std::string CollectMap(unsigned long backupType) const;
    // The whole-file evidence of the backup type's collect files ("CollectEvidenceTot.zvf" for a
    // full, else "CollectEvidenceInc.zvf"; CCollectEvidence).
    std::string CollectEvidence() const;
    // "DCTot.zvf" for type 1, else "DCInc.zvf"; 0 means the factory's own backup type.
    virtual std::string ConsolidatedDirChange(unsigned long backupType) const;
    virtual std::string ConsolidatedDirChangeTemp() const;
    virtual std::string DiagnosticData() const;
    virtual std::string SplitCollect(int first, int second) const;
    // "DirChange_%04d.zvf": four digits at least, more when the number needs them.
    virtual std::string WorkUnitDirChange(int workUnit) const;
    virtual std::string WorkUnitDirChangeFolder() const;
    virtual std::string WorkUnitDirChangeNamePattern() const;
    virtual std::string WorkUnitDirChangeTemp(int workUnit) const;
    virtual std::string WorkUnitDirChangeTempFolder() const;
    virtual std::string WorkUnitDirChangeTempNamePattern() const;
    // Collect file number n: stem + n + ".zvf", no leading zeros.
    virtual std::string WorkUnitCollect(int workUnit) const;
    virtual std::string WorkUnitCollectFolder() const;
    virtual std::string WorkUnitCollectNamePattern() const;
    virtual std::string CollectFileBaseName() const;
    virtual std::string WorkUnitMonikerMapFolder() const;
    virtual std::string WorkUnitMonikerMapTemp() const;
    virtual std::string UsnTemp() const;
    // The job's deleted-items list: the collect stem and "DeletedItems.zvf"
    // ("CollectIncDeletedItems.zvf" in the Unix names), so it matches the collect pattern and
    // the clean-up of the collect files of its backup type.
    virtual std::string DeletedItemsCollect() const;
    virtual std::string FailedItemsCollect() const;
    virtual std::string ScanFailedItemsCollect() const;
    // The items a committed (interrupted) job still owed, copied here by the commit-job step
    // for this job to take ("CommitCollect.zvf").
    std::string CommitCollect() const;
    // Removes what an earlier scan of the subclient left and this scan writes anew. Every entry
    // is a name or pattern matched in the results folder; nothing matching is not a failure, and
    // a file that cannot be removed is logged and the list goes on. The consolidated
    // directory-change files are never touched: the next incremental reads them.
    virtual void DeleteSubclientFiles();
    virtual std::string GetSnapInformation() const;
    // Archiving jobs: the files selected to become stubs, one escaped source path a line.
    virtual std::string StubCollect() const;
    virtual std::string MountConfigFile() const;
    virtual std::string MonikerAbsoultPathMappingFile() const;
    virtual std::string SyncContentFile() const;
    virtual std::string MonikerHookFile() const;
    virtual std::string ConsolidatedIPhotoDB(unsigned long backupType) const;
    virtual std::string ConsolidatedIPhotoDBTmp() const;
    virtual std::string HadoopNodeMapFile() const;
    virtual std::string GetPreScanFileName() const;
    virtual std::string GetContentFile() const;
    virtual std::string& GetResultsFolderForSubclient();

    std::string FileExtentBackupInfoFile() const;

    unsigned int GetBackupType() const { return m_backupType; }
    const std::string& GetResultsFolder() const { return m_resultsFolder; }
    bool IsFullBackup() const { return m_backupType == kFullBackup; }

protected:
    // The results folder joined with `name`.
    std::string InFolder(const std::string& name) const;
    // Deletes each entry of `patterns` from the results folder, in order.
    void DeleteFromResultsFolder(const std::vector<std::string>& patterns) const;
    // Deletes the entries of `folder` matching `pattern`, logging a failure and going on.
    static void DeleteMatching(const std::string& folder, const std::string& pattern);

    unsigned int m_backupType;
    std::string m_resultsFolder;
};

using CFileNameFactoryPtr = std::shared_ptr<CFileNameFactory>;
