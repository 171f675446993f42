#include "CollectFile/DirChangeFileLayout.h"

#include "Base/HotPath.h"
#include "Base/DirChangePathOrder.h"
#include "Base/FileNameEscaping.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace DirChangeFileLayout {

namespace {
constexpr std::uint64_t kMul1 = 0x9E3779B97F4A7C15ull;
constexpr std::uint64_t kMul2 = 0xC2B2AE3D27D4EB4Full;

inline std::uint64_t Rotl(std::uint64_t v, int r) { return (v << r) | (v >> (64 - r)); }

inline std::uint64_t Step(std::uint64_t h, std::uint64_t word) { return Rotl(h ^ (word * kMul1), 31) * kMul2; }

void PutLe(std::uint64_t value, size_t bytes, std::string& out)
{
    for (size_t i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint64_t GetLe(std::string_view bytes, size_t at, size_t count)
{
    std::uint64_t value = 0;
    for (size_t i = 0; i < count; ++i)
        value |= std::uint64_t{static_cast<unsigned char>(bytes[at + i])} << (8 * i);
    return value;
}

template <typename T>
bool ParseNumber(std::string_view text, int base, T& value)
{
    if (text.empty() || (base == 10 && text.size() > 1 && text[0] == '0'))
        return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return ec == std::errc() && end == text.data() + text.size();
}
}  // namespace

KX_HOT_PATH std::uint64_t Hash64(std::string_view bytes) noexcept
{
    CHash64Stream stream;
    stream.Update(bytes);
    return stream.Final();
}

KX_HOT_PATH void CHash64Stream::Update(std::string_view bytes) noexcept
{
    m_size += bytes.size();
    if (m_pendingSize > 0) {
        const size_t take = std::min(bytes.size(), 8 - m_pendingSize);
        std::memcpy(m_pending + m_pendingSize, bytes.data(), take);
        m_pendingSize += take;
        bytes.remove_prefix(take);
        if (m_pendingSize < 8)
            return;
        std::uint64_t word;
        std::memcpy(&word, m_pending, 8);
        m_state = Step(m_state, word);
        m_pendingSize = 0;
    }
    size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + i, 8);
        m_state = Step(m_state, word);
    }
    m_pendingSize = bytes.size() - i;
    std::memcpy(m_pending, bytes.data() + i, m_pendingSize);
}

KX_HOT_PATH std::uint64_t CHash64Stream::Final() const noexcept
{
    std::uint64_t tail = 0;
    for (size_t k = 0; k < m_pendingSize; ++k)
        tail |= std::uint64_t{static_cast<unsigned char>(m_pending[k])} << (8 * k);
    std::uint64_t h = Step(m_state, tail);
    h = Step(h, m_size);
    h ^= h >> 33;
    h *= kMul1;
    h ^= h >> 29;
    return h;
}

void AppendTrailer(const STrailer& trailer, std::string& out)
{
    out.append(kTrailerMagic);
    PutLe(kVersion, 4, out);
    PutLe(0, 4, out);
    PutLe(trailer.indexOffset, 8, out);
    PutLe(trailer.indexLength, 8, out);
    PutLe(trailer.chunkCount, 8, out);
    PutLe(trailer.indexHash, 8, out);
}

bool ParseTrailer(std::string_view bytes, STrailer& trailer, std::string& cause)
{
    if (bytes.size() != kTrailerSize || bytes.substr(0, kTrailerMagic.size()) != kTrailerMagic) {
        cause = "no closing trailer (the file was not closed or was cut)";
        return false;
    }
    if (GetLe(bytes, 8, 4) != kVersion) {
        cause = KxFormat("unknown version %llu", static_cast<unsigned long long>(GetLe(bytes, 8, 4)));
        return false;
    }
    if (GetLe(bytes, 12, 4) != 0) {
        cause = "damaged trailer";
        return false;
    }
    trailer.indexOffset = GetLe(bytes, 16, 8);
    trailer.indexLength = GetLe(bytes, 24, 8);
    trailer.chunkCount = GetLe(bytes, 32, 8);
    trailer.indexHash = GetLe(bytes, 40, 8);
    return true;
}

bool ChunkRefLess(const SChunkRef& a, const SChunkRef& b) noexcept
{
    const int order = DirChangePathOrder::Compare(a.folder, b.folder);
    return order != 0 ? order < 0 : a.offset < b.offset;
}

void SortChunkRefs(std::vector<const SChunkRef*>& chunks)
{
    constexpr size_t kLongRun = 256;
    const auto less = [](const SChunkRef* a, const SChunkRef* b) { return ChunkRefLess(*a, *b); };
    // The long runs first, each as it stands, then the rest sorted as one more run.
    std::vector<const SChunkRef*> ordered;
    std::vector<const SChunkRef*> rest;
    std::vector<size_t> runEnds;
    for (size_t i = 0; i < chunks.size();) {
        size_t end = i + 1;
        while (end < chunks.size() && less(chunks[end - 1], chunks[end]))
            ++end;
        auto& to = end - i >= kLongRun ? ordered : rest;
        to.insert(to.end(), chunks.begin() + static_cast<std::ptrdiff_t>(i), chunks.begin() + static_cast<std::ptrdiff_t>(end));
        if (end - i >= kLongRun)
            runEnds.push_back(ordered.size());
        i = end;
    }
    if (runEnds.empty()) {
        std::sort(chunks.begin(), chunks.end(), less);
        return;
    }
    std::sort(rest.begin(), rest.end(), less);
    ordered.insert(ordered.end(), rest.begin(), rest.end());
    runEnds.push_back(ordered.size());
    // Neighbouring runs merged pairwise until one is left.
    while (runEnds.size() > 1) {
        std::vector<size_t> merged;
        for (size_t r = 0; r < runEnds.size(); r += 2) {
            if (r + 1 == runEnds.size()) {
                merged.push_back(runEnds[r]);
                break;
            }
            const size_t begin = r == 0 ? 0 : runEnds[r - 1];
            std::inplace_merge(ordered.begin() + static_cast<std::ptrdiff_t>(begin),
                               ordered.begin() + static_cast<std::ptrdiff_t>(runEnds[r]),
                               ordered.begin() + static_cast<std::ptrdiff_t>(runEnds[r + 1]), less);
            merged.push_back(runEnds[r + 1]);
        }
        runEnds.swap(merged);
    }
    chunks.swap(ordered);
}

void AppendIndexLine(const SChunkRef& chunk, std::string& out)
{
    escapeFileNameAppend(chunk.folder, out);
    char digits[24];
    for (std::uint64_t value : {chunk.offset, chunk.length, std::uint64_t{chunk.flags}}) {
        out.push_back('|');
        const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        out.append(digits, static_cast<size_t>(end - digits));
    }
    out.push_back('|');
    char* end = std::to_chars(digits, digits + sizeof digits, chunk.hash, 16).ptr;
    out.append(16 - static_cast<size_t>(end - digits), '0');
    out.append(digits, static_cast<size_t>(end - digits));
    out.push_back('\n');
}

bool ParseIndexLines(std::string_view text, SIndexParse& parse, std::vector<SChunkRef>& chunks, CChunkNameArena& names,
                     std::string& cause)
{
    std::string unescaped;
    size_t pos = 0;
    size_t& lineNumber = parse.lineNumber;
    while (pos < text.size()) {
        ++lineNumber;
        const size_t newline = text.find('\n', pos);
        if (newline == std::string_view::npos) {
            cause = KxFormat("index line %zu has no end", lineNumber);
            return false;
        }
        std::string_view line = text.substr(pos, newline - pos);
        pos = newline + 1;
        std::string_view parts[5];
        size_t count = 0;
        while (count < 5) {
            const size_t bar = line.find('|');
            if (bar == std::string_view::npos) {
                parts[count++] = line;
                line = {};
                break;
            }
            parts[count++] = line.substr(0, bar);
            line.remove_prefix(bar + 1);
        }
        SChunkRef chunk;
        const bool plainName = isEscapeFree(parts[0]);
        if (count != 5 || !line.empty() || parts[4].size() != 16 || !ParseNumber(parts[1], 10, chunk.offset) ||
            !ParseNumber(parts[2], 10, chunk.length) || !ParseNumber(parts[3], 10, chunk.flags) ||
            !ParseNumber(parts[4], 16, chunk.hash) ||
            (!plainName && unescapeFileName(parts[0], unescaped).IsError())) {
            cause = KxFormat("index line %zu is malformed", lineNumber);
            return false;
        }
        // Lower-case hex only, so that one chunk has one spelling.
        for (char c : parts[4])
            if (c >= 'A' && c <= 'F') {
                cause = KxFormat("index line %zu is malformed", lineNumber);
                return false;
            }
        if ((chunk.flags & ~kKnownChunkFlags) != 0 || chunk.length == 0 || chunk.offset < parse.dataBegin ||
            chunk.offset > parse.dataEnd || chunk.length > parse.dataEnd - chunk.offset) {
            cause = KxFormat("index line %zu names a chunk outside the data", lineNumber);
            return false;
        }
        chunk.folder = plainName ? parts[0] : std::string_view(unescaped);
        if (!chunks.empty() && !ChunkRefLess(chunks.back(), chunk)) {
            cause = KxFormat("index line %zu is out of order", lineNumber);
            return false;
        }
        chunk.folder = names.Add(chunk.folder);
        chunks.push_back(chunk);
    }
    return true;
}

bool ParseEntryLine(std::string_view chunk, size_t& pos, SEntryLine& line, std::string& cause)
{
    const size_t newline = chunk.find('\n', pos);
    if (newline == std::string_view::npos || newline == pos) {
        cause = KxFormat("entry at chunk offset %zu has no end", pos);
        return false;
    }
    line.kind = chunk[pos];
    if (line.kind != kFolderKind && line.kind != kFileKind) {
        cause = KxFormat("entry at chunk offset %zu has no kind", pos);
        return false;
    }
    std::string_view rest = chunk.substr(pos + 1, newline - pos - 1);
    const size_t bar = rest.find('|');
    line.escapedName = rest.substr(0, bar);
    line.text = bar == std::string_view::npos ? std::string_view() : rest.substr(bar);
    pos = newline + 1;
    return true;
}

void SplitFields(std::string_view text, std::vector<std::string>& fields)
{
    size_t used = 0;
    if (!text.empty()) {
        if (text.front() == '|')
            text.remove_prefix(1);
        for (;;) {
            const size_t bar = text.find('|');
            std::string_view piece = text.substr(0, bar);
            if (used < fields.size())
                fields[used].assign(piece);
            else
                fields.emplace_back(piece);
            ++used;
            if (bar == std::string_view::npos)
                break;
            text.remove_prefix(bar + 1);
        }
    }
    fields.resize(used);
}

}  // namespace DirChangeFileLayout
