#pragma once
// CHardLinkSplitCollectFiles: the post-walk step of a job that handles hard links: the split of
// the ordinary collect files (with their extents, when extent backup is on), then the hard-link manager's split and merge (HardLinkManager),
// which turn the recorded hard-linked files into collect files of their own, numbered after the
// pieces, grouped in "split_config" with the collect file they came from.
//
// A job that recorded no hard-linked file runs only the ordinary split: no hard-link file is
// written and "split_config" stays as the split wrote it. Any failure of the hard-link steps
// fails the step (the recorded names are in no ordinary collect file).
//
// Thread: the job's clean-up thread.
#include "Scan/Unix/UnixMultiStreamExtentSplitCollectFiles.h"

class HardLinkManager;

class CHardLinkSplitCollectFiles : public CUnixMultiStreamExtentSplitCollectFiles {
public:
    CHardLinkSplitCollectFiles(std::shared_ptr<CPostProcessingOptions> options, std::shared_ptr<CFileNameFactory> names,
                               std::vector<COutputResourcesPtr>& outputResources, int lastCollectNumber,
                               CBagPtr scannerOptions, long long jobId, std::shared_ptr<HardLinkManager> manager);

    [[nodiscard]] CKxError Run() override;

private:
    std::shared_ptr<HardLinkManager> m_manager;
};
