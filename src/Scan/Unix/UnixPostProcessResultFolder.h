#pragma once
// CUnixPostProcessResultFolder: the Unix part of the subclient files backup
// (CFileSystemPostProcessResultFolder): the results folder's real path and volume (CVolumeId,
// the key of the output resources), one read of the folder through its descriptor, the walk's
// own listing of the folders above it, and a new collect file from the Unix callback.
//
// A folder above the results folder was listed by the walk when an ancestor writer of the job
// wrote it (the folders above a content root), or when it lies at or below a content root and
// this job's directory-change record has it as selected (looked up only then: one look-up per
// folder, never per item).
//
// Ownership and thread: as the base.
#include "Scan/FileSystemPostProcessResultFolder.h"

class CUnixPostProcessResultFolder : public CFileSystemPostProcessResultFolder {
protected:
    [[nodiscard]] CKxError ResolveResultsFolder(const std::string& folder, std::string& realFolder,
                                                std::string& volumeId) override;
    [[nodiscard]] CKxError ListFolder(const std::string& folder, std::vector<SEntry>& entries) override;
    bool IsListedByWalk(const std::string& folder) override;
    [[nodiscard]] CKxError CreateCollectFile(int number, const std::string& volume,
                                             std::shared_ptr<CFlatCollectFile>& collect) override;
};
