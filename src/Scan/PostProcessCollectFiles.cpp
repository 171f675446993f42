#include "Scan/PostProcessCollectFiles.h"

#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/FunctionTrace.h"
#include "Base/LogWriter.h"
#include "CollectFile/CollectFileReader.h"
#include "Base/FileNameEscaping.h"
#include "CollectFile/FlatCollectFile.h"

#include <cerrno>
#include <sys/stat.h>

CPostProcessCollectFiles::CPostProcessCollectFiles(std::shared_ptr<CPostProcessingOptions> options,
                                                   std::vector<COutputResourcesPtr>& outputResources)
    : m_options(std::move(options)), m_outputResources(outputResources)
{
}

CPostProcessCollectFiles::~CPostProcessCollectFiles() = default;

std::unordered_set<std::string> CPostProcessCollectFiles::AncestorLinesOf(const std::vector<std::string>& contentRoots)
{
    std::unordered_set<std::string> lines;
    for (const std::string& root : contentRoots) {
        std::string folder = FXPath::TrimTrailingSlashes(root);
        if (folder.empty() || folder.front() != '/')
            continue;
        while (folder != "/") {
            folder = FXPath::Parent(folder);
            std::string line = escapeFileName(folder);
            if (line.back() != '/')
                line.push_back('/');
            if (!lines.insert(std::move(line)).second)
                break;  // the folders above it are in already
        }
    }
    return lines;
}

void CPostProcessCollectFiles::SetContentRoots(const std::vector<std::string>& contentRoots)
{
    m_ancestorLines = AncestorLinesOf(contentRoots);
}

bool CPostProcessCollectFiles::IsContentLine(const std::string& line) const
{
    return !line.empty() && line != "/" && !m_ancestorLines.contains(line);
}

CKxError CPostProcessCollectFiles::ShouldSkipCollectFile(const std::string& path, bool& skip) const
{
    skip = false;
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return CKxError::FromErrno(errno, KxFormat("Failed to get the size of collect file [%s]", path.c_str()));
    if (status.st_size == 0) {
        skip = true;
        return CKxError::Success();
    }
    if (m_ancestorLines.empty() && static_cast<std::uint64_t>(status.st_size) > kSmallFileBytes)
        return CKxError::Success();

    CCollectFileReader reader;
    KX_RETURN_IF_FAILED(reader.OpenCollectFile(path), "Failed to check collect file [%s]", path.c_str());
    std::string text;
    while (true) {
        KX_RETURN_IF_FAILED(reader.GetNextLine(text), "Failed to check collect file [%s]", path.c_str());
        if (reader.IsEndOfFile())
            break;
        if (IsContentLine(reader.GetCurrentRawLine()))
            return CKxError::Success();
    }
    skip = true;
    return CKxError::Success();
}

CKxError CPostProcessCollectFiles::Run()
{
    FSTRACE();
    for (const COutputResourcesPtr& resource : m_outputResources) {
        auto collect = std::dynamic_pointer_cast<CFlatCollectFile>(resource->GetCollectConsumer());
        if (!collect) {
            FSLOG(0, "collect file %d is not set", resource->GetCollectNumber());
            continue;
        }
        const std::string& path = collect->GetFileName();
        // What is still buffered belongs to the file being judged.
        if (CKxError flushed = collect->Flush(); flushed.IsError()) {
            FSLOG_ERROR("ShouldSkipCollectFile failed for '%s', error=%s", path.c_str(), flushed.AsString().c_str());
            continue;
        }
        // The writer counts content lines only (the ancestors' are not items): a file with
        // items need not be read to know it has content.
        if (collect->GetItemCount() > 0)
            continue;
        bool skip = false;
        if (CKxError checked = ShouldSkipCollectFile(path, skip); checked.IsError()) {
            FSLOG_ERROR("ShouldSkipCollectFile failed for '%s', error=%s", path.c_str(), checked.AsString().c_str());
            continue;
        }
        if (!skip)
            continue;
        FSLOG(0, "Collect file %d will be removed (%s), since it has no content", resource->GetCollectNumber(),
              path.c_str());
        if (CKxError closed = collect->Close(); closed.IsError())
            FSLOG_ERROR("Failed to close collect file '%s': %s", path.c_str(), closed.AsString().c_str());
        if (CKxError removed = FXFile::Remove(path); removed.IsError())
            FSLOG_ERROR("RemoveFile failed, error=%s", removed.AsString().c_str());
        collect->setProcessedItemsCount(0);
        collect->SetDataSize(0);
        resource->SetCollectConsumer(nullptr);
    }
    return CKxError::Success();
}
