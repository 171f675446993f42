#include "CollectFile/DirChangeClosedFile.h"

#include "CollectFile/DirChangeFolderEntries.h"
#include "Base/DirChangePathOrder.h"
#include "Base/FileNameEscaping.h"
#include "Base/Prefault.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

using namespace DirChangeFileLayout;

namespace {
// Reads and parses the closing index a window at a time, so that a large record's index text is
// never held whole beside its parsed records. A checksum mismatch is told before any malformed
// line: it says the bytes are not what was written. False with `read` set when reading failed,
// with `cause` when the index is damaged.
bool ParseClosingIndex(int fd, const std::string& path, const STrailer& trailer, std::vector<SChunkRef>& chunks,
                       CChunkNameArena& names, std::string& cause, CKxError& read)
{
    constexpr std::uint64_t kWindow = std::uint64_t{1} << 20;
    constexpr std::uint64_t kShortestLine = 24;  // "|<offset>|<length>|<flags>|<16 hex digits>\n"
    // Sized and made resident up front: a large record's index would otherwise fault in a page
    // at a time. (The folder names go to the name arena, which makes its own blocks resident.)
    Prefault::Reserve(chunks, static_cast<size_t>(std::min(trailer.chunkCount, trailer.indexLength / kShortestLine)));
    SIndexParse parse{kHeader.size(), trailer.indexOffset, 0};
    CHash64Stream hash;
    std::string text;
    bool parsed = true;
    for (std::uint64_t done = 0; done < trailer.indexLength;) {
        const std::uint64_t length = std::min(kWindow, trailer.indexLength - done);
        const size_t carried = text.size();
        read = CDirChangeFolderEntries::ReadAt(fd, path, trailer.indexOffset + done, length, text);
        if (read.IsError())
            return false;
        done += length;
        hash.Update(std::string_view(text).substr(carried));
        const size_t end = done == trailer.indexLength ? text.size() : text.rfind('\n') + 1;
        if (parsed)
            parsed = ParseIndexLines(std::string_view(text).substr(0, end), parse, chunks, names, cause);
        text.erase(0, end);
    }
    if (hash.Final() != trailer.indexHash) {
        cause = "folder index checksum mismatch";
        return false;
    }
    return parsed;
}
}  // namespace

CDirChangeClosedFile::~CDirChangeClosedFile()
{
    Close();
}

void CDirChangeClosedFile::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_dataEnd = 0;
    m_chunks.clear();
    m_chunks.shrink_to_fit();
    m_names.reset();
}

CKxError CDirChangeClosedFile::Open(const std::string& path)
{
    Close();
    m_path = path;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return CKxError::FromErrno(errno, KxFormat("Failed to open directory-change file '%s'", path.c_str()));
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return CKxError::FromErrno(error, KxFormat("Failed to read directory-change file '%s'", path.c_str()));
    }
    auto corrupt = [&](const std::string& cause) {
        ::close(fd);
        m_chunks.clear();
        return CKxError(KxCode::InvalidData,
                        KxFormat("Directory-change file '%s' is truncated or corrupt: %s", path.c_str(), cause.c_str()));
    };
    if (!S_ISREG(st.st_mode))
        return corrupt("not a regular file");
    const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    if (size < kHeader.size() + kTrailerSize)
        return corrupt(KxFormat("only %llu bytes long, no closing trailer (the file was not closed or was cut)",
                                static_cast<unsigned long long>(size)));

    std::string bytes;
    CKxError read = CDirChangeFolderEntries::ReadAt(fd, path, 0, kHeader.size(), bytes);
    if (read.IsSuccess())
        read = CDirChangeFolderEntries::ReadAt(fd, path, size - kTrailerSize, kTrailerSize, bytes);
    if (read.IsError()) {
        ::close(fd);
        return read;
    }
    if (std::string_view(bytes).substr(0, kHeader.size()) != kHeader)
        return corrupt("not a directory-change file (bad header)");
    std::string cause;
    STrailer trailer;
    if (!ParseTrailer(std::string_view(bytes).substr(kHeader.size()), trailer, cause))
        return corrupt(cause);
    const std::uint64_t indexEnd = size - kTrailerSize;
    if (trailer.indexOffset < kHeader.size() || trailer.indexOffset > indexEnd ||
        trailer.indexLength != indexEnd - trailer.indexOffset)
        return corrupt("the trailer does not match the file size");

    std::vector<SChunkRef> chunks;
    auto names = std::make_shared<CChunkNameArena>();
    if (!ParseClosingIndex(fd, path, trailer, chunks, *names, cause, read)) {
        if (read.IsError()) {
            ::close(fd);
            return read;
        }
        return corrupt(cause);
    }
    if (chunks.size() != trailer.chunkCount)
        return corrupt("the trailer's chunk count does not match the folder index");
    chunks.shrink_to_fit();
    m_chunks = std::move(chunks);
    m_names = std::move(names);
    m_dataEnd = trailer.indexOffset;
    m_indexHash = trailer.indexHash;
    m_fd = fd;
    return CKxError::Success();
}

CKxError CDirChangeClosedFile::VerifyChunks() const
{
    // Chunks in file order, so that the file is read once, in order; the second half of the
    // file on a thread of its own, since nothing else runs while a record is loaded.
    std::vector<const SChunkRef*> byOffset;
    byOffset.reserve(m_chunks.size());
    for (const SChunkRef& chunk : m_chunks)
        byOffset.push_back(&chunk);
    std::sort(byOffset.begin(), byOffset.end(),
              [](const SChunkRef* a, const SChunkRef* b) { return a->offset < b->offset; });
    const auto middle = std::partition_point(byOffset.begin(), byOffset.end(), [this](const SChunkRef* chunk) {
        return chunk->offset < m_dataEnd / 2;
    });
    const size_t half = static_cast<size_t>(middle - byOffset.begin());
    CKxError second;
    auto verifySecond = [&] { second = VerifyRange(byOffset.data() + half, byOffset.size() - half); };
    std::thread helper;
    try {
        helper = std::thread(verifySecond);
    } catch (const std::system_error&) {
        verifySecond();
    }
    CKxError first = VerifyRange(byOffset.data(), half);
    if (helper.joinable())
        helper.join();
    return first.IsError() ? first : second;  // the damage that comes first in the file
}

CKxError CDirChangeClosedFile::VerifyRange(const SChunkRef* const* chunks, size_t count) const
{
    // Read through one window.
    constexpr std::uint64_t kWindow = std::uint64_t{256} << 10;
    std::string window;
    std::uint64_t windowStart = 0;
    for (const SChunkRef* const* at = chunks; at != chunks + count; ++at) {
        const SChunkRef* chunk = *at;
        if (chunk->offset < windowStart || chunk->offset + chunk->length > windowStart + window.size()) {
            window.clear();
            windowStart = chunk->offset;
            const std::uint64_t length = std::max(chunk->length, std::min(kWindow, m_dataEnd - chunk->offset));
            KX_RETURN_IF_ERROR(CDirChangeFolderEntries::ReadAt(m_fd, m_path, windowStart, length, window));
        }
        if (Hash64(std::string_view(window).substr(chunk->offset - windowStart, chunk->length)) != chunk->hash)
            return CKxError(KxCode::InvalidData,
                            KxFormat("Directory-change file '%s' is truncated or corrupt: chunk of folder '%s' at "
                                     "offset %llu: checksum mismatch",
                                     m_path.c_str(), escapeFileName(chunk->folder).c_str(),
                                     static_cast<unsigned long long>(chunk->offset)));
    }
    return CKxError::Success();
}

std::pair<size_t, size_t> CDirChangeClosedFile::FolderRange(std::string_view folder, bool withSubtree) const
{
    auto first = std::lower_bound(m_chunks.begin(), m_chunks.end(), folder, [](const SChunkRef& chunk, std::string_view f) {
        return DirChangePathOrder::Less(chunk.folder, f);
    });
    auto last = first;
    if (withSubtree) {
        while (last != m_chunks.end() && DirChangePathOrder::IsSameOrBelow(folder, last->folder))
            ++last;
    } else {
        while (last != m_chunks.end() && last->folder == folder)
            ++last;
    }
    return {static_cast<size_t>(first - m_chunks.begin()), static_cast<size_t>(last - m_chunks.begin())};
}
