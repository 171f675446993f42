#include "Scan/Unix/UnixSplitCollectFiles.h"

#include "Agent/EvEvent.h"
#include "Base/FXPath.h"
#include "Base/FunctionTrace.h"
#include "Base/LogWriter.h"
#include "Base/WriteBackStarter.h"
#include "Base/Prefault.h"
#include "CollectFile/FlatCollectFile.h"
#include "Scan/ContentRootAncestorConsumer.h"
#include "Scan/FileNameFactory.h"
#include "Scan/PostProcessingOptions.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unordered_set>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr std::uint32_t kEventCollectSplitFailed = 0x11000027;

std::uint64_t CeilDiv(std::uint64_t value, std::uint64_t divisor)
{
    return divisor == 0 ? 0 : value / divisor + (value % divisor != 0 ? 1 : 0);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Bytes read from the collect file, and gathered for a piece, per system call. Small enough
// that the two buffers stay few pages: a page first touched costs more than a system call.
constexpr size_t kBlockBytes = size_t{256} << 10;

// Hands out the lines of a file (without their newline) from large reads, and rewrites the file's
// front in place: what the first piece keeps of each line is never longer than the line (only the
// size and trailing blanks go), so its bytes land behind the read position. A line stays valid
// until the next call. The last line may lack its newline.
class CInPlaceLineRewriter {
public:
    ~CInPlaceLineRewriter() { Close(); }

    CKxError Open(const std::string& path)
    {
        m_path = path;
        m_fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (m_fd < 0)
            return CKxError::FromErrno(errno, KxFormat("Failed to open '%s'", path.c_str()));
        m_writeBack = std::make_unique<CWriteBackStarter>(m_fd);
        m_buffer = std::make_unique_for_overwrite<char[]>(kBlockBytes);
        m_size = kBlockBytes;
        Prefault::Range(m_buffer.get(), m_size);
        return CKxError::Success();
    }

    CKxError Next(std::string_view& line, bool& more)
    {
        for (;;) {
            if (const void* found = std::memchr(m_buffer.get() + m_begin, '\n', m_end - m_begin)) {
                const size_t newline = static_cast<const char*>(found) - m_buffer.get();
                line = std::string_view(m_buffer.get() + m_begin, newline - m_begin);
                m_begin = newline + 1;
                more = true;
                return CKxError::Success();
            }
            if (m_endOfFile) {
                line = std::string_view(m_buffer.get() + m_begin, m_end - m_begin);
                more = m_begin != m_end;
                m_begin = m_end;
                return CKxError::Success();
            }
            // Keep the partial line at the front; grow only for a line longer than the buffer.
            std::memmove(m_buffer.get(), m_buffer.get() + m_begin, m_end - m_begin);
            m_end -= m_begin;
            m_begin = 0;
            if (m_end == m_size) {
                auto grown = std::make_unique_for_overwrite<char[]>(m_size * 2);
                std::memcpy(grown.get(), m_buffer.get(), m_end);
                m_buffer = std::move(grown);
                m_size *= 2;
            }
            const ssize_t got = ::read(m_fd, m_buffer.get() + m_end, m_size - m_end);
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                return CKxError::FromErrno(errno, KxFormat("Failed to read '%s'", m_path.c_str()));
            }
            if (got == 0)
                m_endOfFile = true;
            m_end += static_cast<size_t>(got);
        }
    }

    // Appends `bytes` to the rewritten front.
    CKxError WriteFront(std::string_view bytes)
    {
        while (!bytes.empty()) {
            const ssize_t put = ::pwrite(m_fd, bytes.data(), bytes.size(), static_cast<off_t>(m_front));
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                return CKxError::FromErrno(errno, KxFormat("Failed to write to '%s'", m_path.c_str()));
            }
            m_front += static_cast<std::uint64_t>(put);
            bytes.remove_prefix(static_cast<size_t>(put));
        }
        // The front is final as written: the disk may take it while the rest is split.
        m_writeBack->Advance(m_front);
        return CKxError::Success();
    }

    // Cuts the file after the rewritten front and closes it.
    CKxError Finish()
    {
        if (::ftruncate(m_fd, static_cast<off_t>(m_front)) != 0)
            return CKxError::FromErrno(errno, KxFormat("Failed to truncate '%s'", m_path.c_str()));
        m_writeBack->Finish();
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0)
            return CKxError::FromErrno(errno, KxFormat("Failed to close '%s'", m_path.c_str()));
        return CKxError::Success();
    }

    void Close()
    {
        m_writeBack.reset();  // its thread uses the descriptor
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    std::string m_path;
    int m_fd = -1;
    std::uint64_t m_front = 0;
    std::unique_ptr<CWriteBackStarter> m_writeBack;
    std::unique_ptr<char[]> m_buffer;
    size_t m_size = 0;
    size_t m_begin = 0;
    size_t m_end = 0;
    bool m_endOfFile = false;
};

// Lines gathered for the current piece with their counts, written in one call. The first piece
// is the front of the file being split; each later one a collect file of its own.
struct SPieceBlock {
    SPieceBlock() { Prefault::Reserve(bytes, kBlockBytes + (size_t{64} << 10)); }

    std::string bytes;
    std::uint64_t lines = 0;
    std::uint64_t items = 0;
    std::uint64_t folders = 0;
    std::uint64_t dataSize = 0;
    // What the first piece received in all.
    std::uint64_t frontItems = 0;
    std::uint64_t frontFolders = 0;
    std::uint64_t frontData = 0;
    // What the current target (front or piece) received in all: its whole-file evidence.
    CCollectEvidence::SEntry target;

    void Add(std::string_view line, bool isAncestor, std::uint64_t size)
    {
        bytes.append(line);
        bytes.push_back('\n');
        ++lines;
        if (isAncestor)
            return;
        ++items;
        if (line.back() == '/')
            ++folders;
        dataSize += size;
    }

    // `piece` null: the front of the file being split.
    CKxError WriteTo(CFlatCollectFile* piece, CInPlaceLineRewriter& front)
    {
        if (bytes.empty())
            return CKxError::Success();
        CKxError written = CKxError::Success();
        if (piece) {
            written = piece->RawWriteItems(bytes, items, folders, dataSize);
        } else {
            written = front.WriteFront(bytes);
            frontItems += items;
            frontFolders += folders;
            frontData += dataSize;
        }
        target.lines += lines;
        target.bytes += bytes.size();
        bytes.clear();
        lines = items = folders = dataSize = 0;
        return written;
    }

    // Ends the current target, named `path`, and hands over its evidence.
    CCollectEvidence::SEntry EndTarget(const std::string& path)
    {
        CCollectEvidence::SEntry ended = std::exchange(target, {});
        ended.name = FXPath::FileName(path);
        return ended;
    }
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

CKxError CUnixSplitCollectFiles::ProcessExtents(std::string_view, int, int)
{
    return CKxError(kNotSupported, "Extent bookkeeping is not supported by this splitter");
}

CKxError CUnixSplitCollectFiles::RaiseSplitFailure(CKxError error, const std::string& fileName)
{
    CKxError raised = EvEvent::Raise(kEventCollectSplitFailed, EvEvent::Major, error.Message(), {fileName});
    if (raised.IsError())
        FSLOG_ERROR("Failed to raise the collect-split event: %s", raised.AsString().c_str());
    return error;
}

bool CUnixSplitCollectFiles::ShouldSplit(std::uint64_t position, std::uint64_t maxDataSizePerFile,
                                         std::uint64_t linesPerFile, std::uint64_t pieceData,
                                         std::uint64_t pieceLines, std::string_view& line, std::uint64_t fileTotalData,
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
        line = line.substr(0, bar);
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
    m_written.clear();
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
    const std::uint64_t bytes = collect->tellp();
    KX_RETURN_IF_FAILED(collect->Close(), "Failed to close collect file [%s] before splitting it", path.c_str());

    const int number = resource->GetCollectNumber();
    // A file written in its final form that one piece can hold is left as it is: no line has a
    // size to take off, and there is nothing to cut.
    std::uint64_t lines = 0;
    if (!collect->SizesInLines() && splitCount == 1 && bytes <= m_maxCollectFileBytes &&
        collect->CountedLines(lines)) {
        FSLOG(0, "Collect file [%s] is final as written: %llu lines, not read again", path.c_str(),
              static_cast<unsigned long long>(lines));
        mapLine = std::to_string(number);
        m_splitMap[number] = {};
        m_written.push_back({lines, bytes, FXPath::FileName(path)});
        return CKxError::Success();
    }
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

    const bool sizedLines = collect->SizesInLines();
    CInPlaceLineRewriter reader;
    if (CKxError opened = reader.Open(path); opened.IsError())
        return RaiseSplitFailure(std::move(opened.Push(KxFormat("Failed open input file [%s]", path.c_str()))), path);

    // The ancestor writer's lines are rewritten like the others but are not items.
    std::unordered_set<std::string> ancestorLines;
    if (auto ancestors = std::dynamic_pointer_cast<CContentRootAncestorConsumer>(resource->GetAncestorConsumer()))
        for (const std::string& folder : ancestors->GetAncestorFolders()) {
            std::string line;
            CFlatCollectFile::FormatItemLine(folder, true, 0, line);
            line.pop_back();
            ancestorLines.insert(std::move(line));
        }

    const long long jobId = collect->GetJobId();
    const std::string& sourceVolumePath = collect->GetSourceVolumePath();
    // The first piece keeps the file's name and is written over the file's own front; later
    // pieces are files of their own.
    std::shared_ptr<CFlatCollectFile> piece;

    // Lines go to the piece in large blocks; the piece's position is kept here rather than asked
    // of the file per line.
    SPieceBlock block;
    std::uint64_t piecePosition = 0;
    int pieceNumber = number;
    int firstNew = 0;
    int lastNew = 0;
    std::uint64_t pieceData = 0;
    std::uint64_t pieceLines = 0;
    std::string_view line;  // in the reader's buffer, until its next line
    while (true) {
        bool more = false;
        KX_RETURN_IF_FAILED(reader.Next(line, more), "Failed to read collect file [%s]", path.c_str());
        if (!more)
            break;
        // Blanks are cut only before a size: a line in final form ends with its name, and a
        // name may end in a blank.
        while (sizedLines && !line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
            line.remove_suffix(1);
        if (line.empty())
            continue;

        const bool isAncestor =
            !ancestorLines.empty() && line.back() == '/' && ancestorLines.erase(std::string(line)) != 0;
        std::uint64_t itemSize = 0;
        const bool split = !isAncestor && ShouldSplit(piecePosition, maxDataSizePerFile, linesPerFile, pieceData,
                                                      pieceLines, line, totalData, itemSize);
        if (split && pieceLines > 0) {
            FSLOG(0, "Splitting to next collect file...");
            KX_RETURN_IF_FAILED(block.WriteTo(piece.get(), reader), "Failed to write collect file piece [%s]",
                                piece ? piece->GetFileName().c_str() : path.c_str());
            if (piece)
                KX_RETURN_IF_FAILED(piece->Close(), "Failed to close collect file piece [%s]",
                                    piece->GetFileName().c_str());
            m_written.push_back(block.EndTarget(piece ? piece->GetFileName() : path));
            ++m_lastCollectNumber;
            ++m_addedCollectFiles;
            if (firstNew == 0)
                firstNew = m_lastCollectNumber;
            lastNew = m_lastCollectNumber;
            pieceNumber = m_lastCollectNumber;
            const std::string piecePath = m_names->WorkUnitCollect(pieceNumber);
            piece = std::make_shared<CFlatCollectFile>(jobId, piecePath, sourceVolumePath);
            piece->File().SetStartWriteBack(true);  // pieces are final as written, like the front
            if (CKxError opened = piece->Open(); opened.IsError())
                return RaiseSplitFailure(
                    std::move(opened.Push(KxFormat("Failed open output file [%s]", piecePath.c_str()))), path);
            auto pieceResource =
                std::make_shared<COutputResources>(pieceNumber, resource->GetSourceVolumePath(), resource->GetVolumeId());
            pieceResource->SetCollectConsumer(piece);
            m_outputResources.push_back(std::move(pieceResource));
            piecePosition = 0;
            pieceData = 0;
            pieceLines = 0;
        }

        FSLOG(7, "dump line [%.*s] into position %llu", static_cast<int>(line.size()), line.data(),
              static_cast<unsigned long long>(piecePosition));
        block.Add(line, isAncestor, itemSize);
        piecePosition += line.size() + 1;
        if (block.bytes.size() >= kBlockBytes)
            KX_RETURN_IF_FAILED(block.WriteTo(piece.get(), reader), "Failed to write collect file piece [%s]",
                                piece ? piece->GetFileName().c_str() : path.c_str());
        if (isAncestor)
            continue;
        if (m_extentsSupported) {
            CKxError extents = ProcessExtents(line, number, pieceNumber);
            if (extents.Code() == kNotSupported)
                m_extentsSupported = false;
        }
        pieceData += itemSize;
        ++pieceLines;
    }
    KX_RETURN_IF_FAILED(block.WriteTo(piece.get(), reader), "Failed to write collect file piece [%s]",
                        piece ? piece->GetFileName().c_str() : path.c_str());
    if (piece)
        KX_RETURN_IF_FAILED(piece->Close(), "Failed to close collect file piece [%s]", piece->GetFileName().c_str());
    if (CKxError finished = reader.Finish(); finished.IsError())
        return RaiseSplitFailure(std::move(finished.Push(KxFormat("Failed to split collect file [%s]", path.c_str()))),
                                 path);
    m_written.push_back(block.EndTarget(piece ? piece->GetFileName() : path));
    // Lines written without sizes weigh nothing here: their data stays counted with the front.
    if (!sizedLines)
        block.frontData = totalData;
    auto front = std::make_shared<CFlatCollectFile>(jobId, path, sourceVolumePath);
    front->SetCounts(block.frontItems, block.frontFolders, block.frontData);
    resource->SetCollectConsumer(front);

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
