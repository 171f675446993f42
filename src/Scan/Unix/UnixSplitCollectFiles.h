#pragma once
// CUnixSplitCollectFiles: cuts each collect file of a Unix scan into pieces of roughly equal
// data size, so that the backup phase can read one volume with several streams and no collect
// file grows past what the backup phase reads in one go (2,000,000,000 bytes).
//
// For every output resource whose collect file holds items, in list order:
//   - k = the options' GetCollectFileSplitCount(); linesPerFile = ceil(items / k) and
//     maxDataSizePerFile = ceil(data / min(k, items));
//   - the file is read back line by line; the first piece keeps the file's name and is written
//     over the file's own front (it never outgrows what was read), the rest of the file is cut
//     off at the end; when ShouldSplit asks for the next piece, it gets the next collect number
//     after the last one in use, a collect file named by the naming object and a new output
//     resource (same source path and volume id) appended to the list. A split that fails half
//     way leaves a collect file the backup phase must not read: the job fails with it;
//   - the "|<size>" suffix of each line is removed on the way: after the split a line is the
//     bare item line the backup phase reads;
//   - the split map ("split_config", written anew by each run) gets "N" for a file that stayed
//     whole and "N first last" for a file cut into N and first..last.
// The resource's consumer is replaced by the file of its first piece, so the counts of every
// resource describe exactly its own piece afterwards. Every piece is closed when Run returns; a
// later step that adds lines opens its file for appending.
//
// Lines without a size ("/" folders, special lines) weigh nothing; empty and blank lines are
// dropped, trailing blanks and tabs cut. Only the collect-file consumers of the resources are
// touched: they must no longer be written to when Run starts (Run closes them).
//
// Failures: a split map that cannot be opened, or a collect file that cannot be renamed or
// reopened, stops the run with the error (and raises event 0x11000027 for the collect file);
// the files handled before stay split and recorded. A resource whose consumer is not a flat
// collect file, or that holds no item, is skipped.
//
// Ownership: made by the Unix callback, which keeps the list of output resources alive for as
// long as the splitter (it is held by reference). Thread: the job's main thread.
#include "Base/KxError.h"
#include "Scan/OutputResources.h"
#include "Scan/SplitCollectFiles.h"

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

class CPostProcessingOptions;
class CFileNameFactory;
class CFlatCollectFile;

class CUnixSplitCollectFiles : public ISplitCollectFiles {
public:
    // What the backup phase can read in one collect file.
    static constexpr std::uint64_t kMaxCollectFileBytes = 2'000'000'000ULL;
    // ProcessExtents' answer when the splitter keeps no extent bookkeeping.
    static constexpr long kNotSupported = 50;

    // `lastCollectNumber` is the number of collect files the scan created (the highest number in
    // use); new pieces are numbered after it.
    CUnixSplitCollectFiles(std::shared_ptr<CPostProcessingOptions> options, std::shared_ptr<CFileNameFactory> names,
                           std::vector<COutputResourcesPtr>& outputResources, int lastCollectNumber);
    ~CUnixSplitCollectFiles() override;

    [[nodiscard]] CKxError Run() override;
    int CountOfAddedCollectFiles() const override { return m_addedCollectFiles; }
    const std::vector<CCollectEvidence::SEntry>& WrittenFiles() const override { return m_written; }

    // Called for every line written to a piece, with the number of the collect file being split
    // and that of the piece. This splitter keeps no extent bookkeeping and answers kNotSupported,
    // after which it is not called again during the run.
    [[nodiscard]] virtual CKxError ProcessExtents(std::string_view line, int parentCollectNumber,
                                                  int childCollectNumber);
    // Whether `line` starts a new piece. Reads the "|<size>" suffix into `itemSize` (0 without
    // one) and cuts it off `line`. `position` is the byte length of the current piece.
    virtual bool ShouldSplit(std::uint64_t position, std::uint64_t maxDataSizePerFile, std::uint64_t linesPerFile,
                             std::uint64_t pieceData, std::uint64_t pieceLines, std::string_view& line,
                             std::uint64_t fileTotalData, std::uint64_t& itemSize) const;

    // Collect number -> numbers it was cut into (empty when it stayed whole), for this run.
    const std::map<int, std::set<int>>& GetSplitMap() const { return m_splitMap; }
    int GetLastCollectNumber() const { return m_lastCollectNumber; }
    // Files with fewer items are never cut (0: no minimum).
    void SetMinimumItemCount(int minimum) { m_minimumItemCount = minimum; }
    // The byte bound of one collect file; tests lower it to reach the bound with small files.
    void SetMaxCollectFileBytes(std::uint64_t bytes) { m_maxCollectFileBytes = bytes; }

protected:
    // Tells the operator which collect file could not be split (event 0x11000027), then hands
    // the error back.
    [[nodiscard]] static CKxError RaiseSplitFailure(CKxError error, const std::string& fileName);
    // Cuts the collect file of one resource; `splitMap` receives its line of the split map.
    [[nodiscard]] CKxError SplitOne(size_t resourceIndex, int splitCount, std::string& splitMapLine);

    int m_addedCollectFiles = 0;
    int m_lastCollectNumber;
    int m_minimumItemCount = 0;
    std::vector<COutputResourcesPtr>& m_outputResources;
    std::shared_ptr<CPostProcessingOptions> m_options;
    std::shared_ptr<CFileNameFactory> m_names;
    std::map<int, std::set<int>> m_splitMap;
    std::vector<CCollectEvidence::SEntry> m_written;

private:
    std::uint64_t m_maxCollectFileBytes = kMaxCollectFileBytes;
    bool m_extentsSupported = true;  // cleared by the first kNotSupported answer of the run
};

using CUnixSplitCollectFilesPtr = std::shared_ptr<CUnixSplitCollectFiles>;
