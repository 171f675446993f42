#pragma once
// CPostProcessCollectFiles: removes, after the walk, the collect files that list nothing to back
// up, so that the backup phase opens no stream for them and the split skips them.
//
// A collect file has no content when every line in it is one of:
//   - an empty line;
//   - "/" (the root folder alone says nothing the backup phase must restore);
//   - an ancestor line: the folder line of a folder above a content root ("/" down to the
//     root's parent), which the ancestor writer puts in each collect file so that the backup
//     phase can recreate the way down to the content. SetContentRoots tells which lines those
//     are; a content root's own line is content.
// Without content roots this is the size rule: 0 bytes is empty, more than 15 bytes has
// content, and 1 to 15 bytes are read. With content roots a file is read until its first
// content line, which in a file with content is one of its first lines.
//
// A file without content is deleted, the counts of its writer are reset and the resource's
// collect consumer is cleared, so later steps (split, statistics) pass it by. A file that
// cannot be checked is logged and left as it is.
//
// Ownership: made by the Unix callback; the list of output resources is held by reference and
// must outlive this object. Thread: the job's main thread, after the walk.
#include "Base/KxError.h"
#include "Scan/OutputResources.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

class CPostProcessingOptions;

class CPostProcessCollectFiles {
public:
    // The size up to which a file without ancestor lines is read rather than taken to have
    // content.
    static constexpr std::uint64_t kSmallFileBytes = 15;

    CPostProcessCollectFiles(std::shared_ptr<CPostProcessingOptions> options,
                             std::vector<COutputResourcesPtr>& outputResources);
    virtual ~CPostProcessCollectFiles();

    // The job's content roots (source paths); their ancestors are the lines the ancestor
    // writer adds to every collect file.
    void SetContentRoots(const std::vector<std::string>& contentRoots);

    // Removes every collect file without content. Failures of single files are logged; the
    // result is success.
    [[nodiscard]] virtual CKxError Run();
    // Whether the collect file at `path` has no content (see above).
    [[nodiscard]] virtual CKxError ShouldSkipCollectFile(const std::string& path, bool& skip) const;

    // The escaped folder lines ("/a/b/") of the folders above each root, "/" included.
    static std::unordered_set<std::string> AncestorLinesOf(const std::vector<std::string>& contentRoots);

private:
    bool IsContentLine(const std::string& line) const;

    std::shared_ptr<CPostProcessingOptions> m_options;
    std::vector<COutputResourcesPtr>& m_outputResources;
    std::unordered_set<std::string> m_ancestorLines;
};

using CPostProcessCollectFilesPtr = std::shared_ptr<CPostProcessCollectFiles>;
