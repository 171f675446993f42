#pragma once
// CUnixMultiStreamExtentSplitCollectFiles: the splitter of jobs that back large files up by
// extents ("RegKey:MultiStreamExtentBackup"), so that one very large file does not keep a
// single stream busy for its whole length.
//
// Run, with the option on:
//   1. Expansion (Run2): every collect file that received extent-qualified lines (the collect
//      file counts them; the others are not read again) is rewritten with each such line
//      replaced by one "%EXTENT%" line per extent of the file, in index order, each weighing its
//      length (CExtentLine). An extent size of 0 stands for 4 MiB; an empty file gets no extent.
//      The file is rewritten beside itself and renamed over the original once whole, and its
//      item and data counts are set to what it now holds. Each file also gets one
//      "%CONTAINER%" line, weighing nothing, in a collect file of its own: the number after the
//      last one in use, an output resource with the source path and volume id of the first
//      volume that had one; its number goes to the option bag as "ContainerCollectId" (the
//      backup phase is told " -CCId N "). Each file is recorded in the file-extent table
//      "FileExtentTable_scan_<job id>" of the results folder, one record per bitmap page of 256
//      extents, identified by 32 hex digits of a 128-bit hash of its path. "TotalExtentCount"
//      and "TotalContainerCount" go to the option bag, multiple reads per disk are switched on
//      (the pieces multiply by the factor), and the file-size distribution is logged.
//   2. The ordinary split (CUnixSplitCollectFiles), which spreads the extents of one file over
//      several pieces; ProcessExtents notes the pieces that hold extent lines.
//   3. The node map (CreateNodeMapFile), the naming object's FileExtentBackupInfoFile(): one line
//      "extent <collect number>" per piece holding extent lines and "container <collect number>"
//      for the container file and each piece it was cut into, in increasing order; written under
//      a temporary name and renamed.
// With the option off, Run is exactly the ordinary split.
//
// Failures: a collect file or the container file that cannot be read or written, a malformed
// extent-qualified line or a table that cannot be saved stops the run with an error naming the
// file (and the line); the job's phase fails. A rewrite that failed leaves the collect file as it
// was (the partial copy is removed), and a failed expansion removes the container file, so
// nothing half-written is left to read as if whole.
//
// Ownership and threads: as CUnixSplitCollectFiles; the option bag is shared with the job.
#include "Base/Bag.h"
#include "Scan/Unix/UnixSplitCollectFiles.h"

#include <array>
#include <cstdint>
#include <memory>
#include <set>
#include <string>

class CBufferedFile;
class CExtentLine;
class CFileExtentTable;

class CUnixMultiStreamExtentSplitCollectFiles : public CUnixSplitCollectFiles {
public:
    // Upper bounds (bytes) of the file-size classes of the logged distribution; the fifth class
    // holds the larger files.
    static constexpr std::array<std::uint64_t, 4> kSizeClassLimits = {
        std::uint64_t{10} << 30, std::uint64_t{100} << 30, std::uint64_t{500} << 30, std::uint64_t{1} << 40};

    CUnixMultiStreamExtentSplitCollectFiles(std::shared_ptr<CPostProcessingOptions> options,
                                            std::shared_ptr<CFileNameFactory> names,
                                            std::vector<COutputResourcesPtr>& outputResources, int lastCollectNumber,
                                            CBagPtr scannerOptions, long long jobId);
    ~CUnixMultiStreamExtentSplitCollectFiles() override;

    [[nodiscard]] CKxError Run() override;
    [[nodiscard]] CKxError ProcessExtents(std::string_view line, int parentCollectNumber,
                                          int childCollectNumber) override;

    // The steps of Run, for a derived splitter that puts more between them.
    [[nodiscard]] CKxError Run2();
    [[nodiscard]] CKxError CreateNodeMapFile();

    // The table's name for a job ("FileExtentTable_scan_<job id>") and a path's identifier.
    static std::string TableName(long long jobId);
    static std::string IdentifierOf(const std::string& path);

    // What the node map lists, once Run2 and the split have run.
    const std::set<int>& GetExtentCollectNumbers() const { return m_extentCollectNumbers; }
    int GetContainerCollectNumber() const { return m_containerNumber; }

protected:
    bool ExtentsEnabled() const;

private:
    // Rewrites the collect file of one resource with its extent lines.
    [[nodiscard]] CKxError ExpandOne(const COutputResourcesPtr& resource,
                                     const std::shared_ptr<CFlatCollectFile>& collect);
    // Cuts one extent-qualified file: its extent lines to `block` (handed to `out` as it
    // fills), its container line and its table records; `extents` and `extentData` receive what
    // the extent lines hold.
    [[nodiscard]] CKxError ExpandFile(const CExtentLine& qualified, const COutputResourcesPtr& resource,
                                      CBufferedFile& out, std::string& block, std::uint64_t& extents,
                                      std::uint64_t& extentData);
    [[nodiscard]] CKxError OpenContainerFile(const COutputResourcesPtr& resource);
    [[nodiscard]] CKxError OpenExtentTable();
    // After a failed expansion: the container file and its resource go.
    void AbandonContainerFile();

    CBagPtr m_scannerOptions;
    std::unique_ptr<CFileExtentTable> m_extentTable;
    std::set<int> m_expandedCollectNumbers;  // collect files that received extent lines
    std::set<int> m_extentCollectNumbers;    // pieces holding extent lines after the split
    long long m_jobId;

    std::shared_ptr<CFlatCollectFile> m_containers;
    int m_containerNumber = 0;
    std::uint64_t m_totalExtents = 0;
    std::uint64_t m_totalContainers = 0;
    std::array<std::uint64_t, kSizeClassLimits.size() + 1> m_sizeClasses{};
};
