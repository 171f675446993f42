#pragma once
// CUnixFileNameFactory: the results-folder names of the Unix file-system scan.
//
// It differs from the base in the collect-file stem ("CollectTot"/"CollectInc", which the
// hard-link collect files extend with an "H" in front) and in its clean-up list. Everything
// the base header says holds here too: full paths except the stem, the bare name patterns
// and the mount folders, which lie outside the results folder.
//
// Thread: const operations may be called from any thread. getJobResultsDirRealPath fills a
// cache on first use and must be called from the job's main thread (it is, during configure)
// before worker threads may read it.
#include "Scan/FileNameFactory.h"

class CUnixFileNameFactory : public CFileNameFactory {
public:
    CUnixFileNameFactory(unsigned int backupType, std::string resultsFolder);
    ~CUnixFileNameFactory() override;

    std::string CollectMap(unsigned long backupType) const override;
    std::string ConsolidatedDirChangeTemp() const override;
    std::string DiagnosticData() const override;
    std::string SplitCollect(int first, int second) const override;
    std::string WorkUnitCollect(int workUnit) const override;
    std::string WorkUnitCollectNamePattern() const override;
    std::string CollectFileBaseName() const override;
    std::string FailedItemsCollect() const override;
    std::string ScanFailedItemsCollect() const override;
    // Removes, in this order: the single collect and filter files of both families; for a full
    // backup every "CollectTot*.zvf" and its hard-link "HCollectTot*.zvf"; every
    // "CollectInc*.zvf", the split map and "HCollectInc*.zvf"; then the hard-link, extent,
    // on-demand and helper files of earlier scans. An incremental thus keeps the numbered
    // "CollectTot" files of the full before it (the backup phase may still need them).
    void DeleteSubclientFiles() override;
    std::string GetSnapInformation() const override;
    // The collect pattern for an explicit backup type: "CollectTot*.zvf" for 1, else
    // "CollectInc*.zvf" (a bare pattern, searched in WorkUnitCollectFolder()).
    virtual std::string WorkUnitCollectNamePattern(unsigned long backupType) const;

    std::string NativeSnapInfo() const;
    std::string NativeSnapMapInfo() const;
    // Folders where native snapshots and automatically mounted file shares are mounted; they
    // lie in the agent's temporary folder, outside the results folder.
    std::string NativeSnapMapMountPath() const;
    std::string FileShareAutoMountPath() const;
    std::string FileShareAutoMountMapInfo() const;

    // The client's job-results directory with the agent's home directory resolved when it is
    // a symbolic link: a job-results directory below the link then names the link's target,
    // so that paths written by the scan match what the file system reports for them. An empty
    // string when the directory cannot be learnt. Cached after the first call.
    std::string getJobResultsDirRealPath();

private:
    std::string m_jobResultsRealPath;
};

using CUnixFileNameFactoryPtr = std::shared_ptr<CUnixFileNameFactory>;
