#include "Scan/Unix/UnixSplitCollectFiles.h"

#include "Agent/EvEvent.h"
#include "Base/FXFile.h"
#include "Base/FunctionTrace.h"
#include "Base/LogWriter.h"
#include "CollectFile/CollectFileReader.h"
#include "CollectFile/FlatCollectFile.h"
#include "Scan/FileNameFactory.h"
#include "Scan/PostProcessingOptions.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>

namespace {
constexpr std::uint32_t kEventCollectSplitFailed = 0x11000027;

// Tells the operator which collect file could not be split, then hands the error back.
CKxError RaiseSplitFailure(CKxError error, const std::string& fileName)
{
    CKxError raised = EvEvent::Raise(kEventCollectSplitFailed, EvEvent::Major, error.Message(), {fileName});
    if (raised.IsError())
        FSLOG_ERROR("Failed to raise the collect-split event: %s", raised.AsString().c_str());
    return error;
}

std::uint64_t CeilDiv(std::uint64_t value, std::uint64_t divisor)
{
    return divisor == 0 ? 0 : value / divisor + (value % divisor != 0 ? 1 : 0);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
}  // namespace

CUnixSplitCollectFiles::CUnixSplitCollectFiles(std::shared_ptr<CPostProcessingOptions> options,
                                               std::shared_ptr<CFileNameFactory> names,
                                               std::vector<COutputResourcesPtr>& outputResources,
                                               int lastCollectNumber)
    : m_lastCollectNumber(lastCollectNumber), m_outputResources(outputResources), m_options(std::move(options)),
      m_names(std::move(names))
{
}

CUnixSplitCollectFiles::~CUnixSplitCollectFiles() = default;

CKxError CUnixSplitCollectFiles::ProcessExtents(const std::string&, int, int)
{
    return CKxError(kNotSupported, "Extent bookkeeping is not supported by this splitter");
}

bool CUnixSplitCollectFiles::ShouldSplit(std::uint64_t position, std::uint64_t maxDataSizePerFile,
                                         std::uint64_t linesPerFile, std::uint64_t pieceData,
                                         std::uint64_t pieceLines, std::string& line, std::uint64_t fileTotalData,
                                         std::uint64_t& itemSize) const
{
    itemSize = 0;
    const size_t bar = line.rfind('|');
    if (bar != std::string::npos) {
        // Escaped paths never hold '|', so the last one is always the size separator.
        std::uint64_t size = 0;
        auto [end, ec] = std::from_chars(line.data() + bar + 1, line.data() + line.size(), size);
        (void)end;
        if (ec == std::errc())
            itemSize = size;
        line.resize(bar);
    }

    if (position + line.size() + 2 > m_maxCollectFileBytes) {
        FSLOG(5, "    should split now as file grow larger than 2G");
        return true;
    }
    if (maxDataSizePerFile != 0) {
        if (pieceData + itemSize <= maxDataSizePerFile)
            return false;
        // The item would take the piece past its share of the file's data.
        const bool split = static_cast<long double>(fileTotalData) > 0.05L * static_cast<long double>(maxDataSizePerFile);
        if (split)
            FSLOG(5, "    should split now as file size [%llu]+[%llu] become larger than maxDataSizePerFile",
                  static_cast<unsigned long long>(pieceData), static_cast<unsigned long long>(itemSize));
        return split;
    }
    if (pieceLines >= linesPerFile) {
        FSLOG(5, "    should split now number of file [%llu] reached limit", static_cast<unsigned long long>(pieceLines));
        return true;
    }
    return false;
}

CKxError CUnixSplitCollectFiles::Run()
{
    FSTRACE();
    const auto started = std::chrono::steady_clock::now();
    m_extentsSupported = true;
    int splitCount = m_options ? m_options->GetCollectFileSplitCount() : 1;
    if (splitCount == 0)
        return CKxError::Success();
    if (splitCount < 0) {
        FSLOG(0, "Split count %d is not a number of pieces, using 1", splitCount);
        splitCount = 1;
    }
    FSLOG(0, "Will split each collect into %d parts. Last Collect File number is %d", splitCount, m_lastCollectNumber);

    const std::string mapPath = m_names->SplitCollect(0, 0);
    std::unique_ptr<std::FILE, FileCloser> map(std::fopen(mapPath.c_str(), "w"));
    if (!map)
        return CKxError::FromErrno(errno, KxFormat("Failed open split_config file [%s]", mapPath.c_str()));

    // Pieces are appended to the list as they are made; only the resources the walk created are
    // cut.
    const size_t walkedResources = m_outputResources.size();
    for (size_t index = 0; index < walkedResources; ++index) {
        std::string mapLine;
        CKxError split = SplitOne(index, splitCount, mapLine);
        if (!mapLine.empty()) {
            mapLine.push_back('\n');
            if (std::fputs(mapLine.c_str(), map.get()) == EOF || std::fflush(map.get()) != 0)
                return CKxError::FromErrno(errno, KxFormat("Failed to write split_config file [%s]", mapPath.c_str()));
        }
        KX_RETURN_IF_FAILED(std::move(split), "Failed to split the collect file of output resource %zu", index);
    }
    std::FILE* closing = map.release();
    if (std::fclose(closing) != 0)
        return CKxError::FromErrno(errno, KxFormat("Failed to close split_config file [%s]", mapPath.c_str()));

    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    FSLOG(0, "Collect files split in %lld ms, %d collect files added", static_cast<long long>(elapsed.count()),
          m_addedCollectFiles);
    return CKxError::Success();
}

CKxError CUnixSplitCollectFiles::SplitOne(size_t resourceIndex, int splitCount, std::string& mapLine)
{
    // Held by value: appending pieces may move the list's storage.
    const COutputResourcesPtr resource = m_outputResources[resourceIndex];
    auto collect = std::dynamic_pointer_cast<CFlatCollectFile>(resource->GetCollectConsumer());
    if (!collect) {
        FSLOG(0, "Can't processing unit #%d", static_cast<int>(resourceIndex));
        return CKxError::Success();
    }
    const std::string path = collect->GetFileName();
    // Deletion lines are not read by streams: that list stays one file, outside the map.
    if (path.find("DeletedItems") != std::string::npos) {
        FSLOG(0, "Collect file [%s] lists deleted items, not splitting", path.c_str());
        return CKxError::Success();
    }
    const std::uint64_t items = collect->GetItemCount();
    if (items == 0) {
        FSLOG(0, "Resource %d have 0 processed items not splitting", static_cast<int>(resourceIndex));
        return CKxError::Success();
    }
    KX_RETURN_IF_FAILED(collect->Close(), "Failed to close collect file [%s] before splitting it", path.c_str());

    const int number = resource->GetCollectNumber();
    if (items < static_cast<std::uint64_t>(std::max(m_minimumItemCount, 0))) {
        FSLOG(0, "Will not split collect file %d - too few items(%lld) (minimum %ld)", number,
              static_cast<long long>(items), static_cast<long>(m_minimumItemCount));
        mapLine = std::to_string(number);
        m_splitMap[number] = {};
        return CKxError::Success();
    }

    FSLOG(0, "Processing collect file [%s]...", path.c_str());
    const std::uint64_t totalData = collect->GetDataSize();
    const std::uint64_t linesPerFile = CeilDiv(items, static_cast<std::uint64_t>(splitCount));
    const std::uint64_t maxDataSizePerFile =
        CeilDiv(totalData, std::min<std::uint64_t>(static_cast<std::uint64_t>(splitCount), items));
    FSLOG(0, "   will split using maxDataSizePerFile=%llu linesPerFile=%llu",
          static_cast<unsigned long long>(maxDataSizePerFile), static_cast<unsigned long long>(linesPerFile));

    const std::string tempPath = path + ".temp";
    if (CKxError renamed = FXFile::Rename(path, tempPath); renamed.IsError())
        return RaiseSplitFailure(std::move(renamed.Push(KxFormat("Failed open input file [%s]", tempPath.c_str()))),
                                 path);
    CCollectFileReader reader;
    if (CKxError opened = reader.OpenCollectFile(tempPath); opened.IsError())
        return RaiseSplitFailure(std::move(opened.Push(KxFormat("Failed open input file [%s]", tempPath.c_str()))),
                                 path);

    const long long jobId = collect->GetJobId();
    const std::string& sourceVolumePath = collect->GetSourceVolumePath();
    auto piece = std::make_shared<CFlatCollectFile>(jobId, path, sourceVolumePath);
    if (CKxError opened = piece->Open(); opened.IsError())
        return RaiseSplitFailure(std::move(opened.Push(KxFormat("Failed open output file [%s]", path.c_str()))), path);
    resource->SetCollectConsumer(piece);

    int pieceNumber = number;
    int firstNew = 0;
    int lastNew = 0;
    std::uint64_t pieceData = 0;
    std::uint64_t pieceLines = 0;
    std::string ignored;
    std::string line;
    while (true) {
        KX_RETURN_IF_FAILED(reader.GetNextLine(ignored), "Failed to read collect file [%s]", tempPath.c_str());
        if (reader.IsEndOfFile())
            break;
        line = reader.GetCurrentRawLine();
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        if (line.empty())
            continue;

        std::uint64_t itemSize = 0;
        const bool split = ShouldSplit(piece->tellp(), maxDataSizePerFile, linesPerFile, pieceData, pieceLines, line,
                                       totalData, itemSize);
        if (split && pieceLines > 0) {
            FSLOG(0, "Splitting to next collect file...");
            KX_RETURN_IF_FAILED(piece->Close(), "Failed to close collect file piece [%s]", piece->GetFileName().c_str());
            ++m_lastCollectNumber;
            ++m_addedCollectFiles;
            if (firstNew == 0)
                firstNew = m_lastCollectNumber;
            lastNew = m_lastCollectNumber;
            pieceNumber = m_lastCollectNumber;
            const std::string piecePath = m_names->WorkUnitCollect(pieceNumber);
            piece = std::make_shared<CFlatCollectFile>(jobId, piecePath, sourceVolumePath);
            if (CKxError opened = piece->Open(); opened.IsError())
                return RaiseSplitFailure(
                    std::move(opened.Push(KxFormat("Failed open output file [%s]", piecePath.c_str()))), path);
            auto pieceResource =
                std::make_shared<COutputResources>(pieceNumber, resource->GetSourceVolumePath(), resource->GetVolumeId());
            pieceResource->SetCollectConsumer(piece);
            m_outputResources.push_back(std::move(pieceResource));
            pieceData = 0;
            pieceLines = 0;
        }

        FSLOG(7, "dump line [%s] into position %llu", line.c_str(), static_cast<unsigned long long>(piece->tellp()));
        KX_RETURN_IF_FAILED(piece->RawWriteItem(line, itemSize), "Failed to write collect file piece [%s]",
                            piece->GetFileName().c_str());
        if (m_extentsSupported) {
            CKxError extents = ProcessExtents(line, number, pieceNumber);
            if (extents.Code() == kNotSupported)
                m_extentsSupported = false;
        }
        pieceData += itemSize;
        ++pieceLines;
    }
    KX_RETURN_IF_FAILED(piece->Close(), "Failed to close collect file piece [%s]", piece->GetFileName().c_str());
    reader.Close();
    if (CKxError removed = FXFile::Remove(tempPath); removed.IsError())
        FSLOG_ERROR("RemoveFile failed, FileName=[%s], error=%s", tempPath.c_str(), removed.AsString().c_str());

    std::set<int>& pieces = m_splitMap[number];
    pieces.clear();
    if (firstNew != 0) {
        FSLOG(0, "   collect file [%s] has been split", path.c_str());
        mapLine = KxFormat("%d %d %d", number, firstNew, lastNew);
        for (int n = firstNew; n <= lastNew; ++n)
            pieces.insert(n);
    } else {
        FSLOG(0, "   collect file [%s] didn't split", path.c_str());
        mapLine = std::to_string(number);
    }
    FSLOG(0, "Processing collect file [%s] complete.", path.c_str());
    return CKxError::Success();
}
