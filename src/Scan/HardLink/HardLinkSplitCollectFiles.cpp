#include "Scan/HardLink/HardLinkSplitCollectFiles.h"

#include "Base/FunctionTrace.h"
#include "Base/LogWriter.h"
#include "Scan/HardLink/HardLinkManager.h"
#include "Scan/PostProcessingOptions.h"

#include <algorithm>

CHardLinkSplitCollectFiles::CHardLinkSplitCollectFiles(std::shared_ptr<CPostProcessingOptions> options,
                                                       std::shared_ptr<CFileNameFactory> names,
                                                       std::vector<COutputResourcesPtr>& outputResources,
                                                       int lastCollectNumber, CBagPtr scannerOptions, long long jobId,
                                                       std::shared_ptr<HardLinkManager> manager)
    : CUnixMultiStreamExtentSplitCollectFiles(std::move(options), std::move(names), outputResources, lastCollectNumber,
                                              std::move(scannerOptions), jobId),
      m_manager(std::move(manager))
{
}

CKxError CHardLinkSplitCollectFiles::Run()
{
    FSTRACE();
    KX_RETURN_IF_FAILED(CUnixMultiStreamExtentSplitCollectFiles::Run(), "Failed to split the collect files");
    if (!m_manager || m_manager->InsertedCount() == 0)
        return CKxError::Success();
    const int splitCount = m_options ? m_options->GetCollectFileSplitCount() : 1;
    KX_RETURN_IF_FAILED(m_manager->SplitHCollectFile(splitCount), "Failed to split the hard-link collect files");
    // Numbers the scan or the split gave out are taken, whichever list they are on.
    int last = m_lastCollectNumber;
    for (const COutputResourcesPtr& resource : m_outputResources)
        last = std::max(last, resource->GetCollectNumber());
    const int before = last;
    KX_RETURN_IF_FAILED(m_manager->MergeSplitFiles(last, m_outputResources, m_written),
                        "Failed to merge the hard-link collect files");
    m_addedCollectFiles += last - before;
    m_lastCollectNumber = last;
    FSLOG(0, "Update total number of collect files to %d (%llu hard-linked names, %llu bytes of their data)", last,
          static_cast<unsigned long long>(m_manager->InsertedCount()),
          static_cast<unsigned long long>(m_manager->GetTotalSize()));
    return CKxError::Success();
}
