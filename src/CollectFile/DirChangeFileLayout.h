#pragma once
// The byte layout of a directory-change file (docs/dirchange-index.md has the full picture):
//
//   header   "fsweep-dirchg 1\n" (16 bytes)
//   chunks   each: entries of one folder, sorted by name then kind, one line per entry:
//            'D' (folder) or 'F' (file), the escaped name, the record text ("" or "|..."), '\n'
//   index    one line per chunk, sorted by folder in path order, a folder's chunks by offset:
//            <escaped folder>|<offset>|<length>|<flags>|<chunk hash, 16 hex digits>\n
//   trailer  48 bytes, little-endian: "FSWDCEND", version (u32) 1, reserved (u32) 0,
//            index offset (u64), index length (u64), chunk count (u64), index hash (u64)
//
// The hash is DirChangeHash64 below. Every byte of a file is covered by a check: the header by
// its text, chunks by their hashes, the index by its hash, the trailer by its fields' agreement
// with the file size and the index.
//
// Thread: pure functions and values.
#include "Base/KxError.h"
#include "CollectFile/ChunkNameArena.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace DirChangeFileLayout {

inline constexpr std::string_view kHeader = "fsweep-dirchg 1\n";
inline constexpr std::string_view kTrailerMagic = "FSWDCEND";
inline constexpr std::uint32_t kVersion = 1;
inline constexpr size_t kTrailerSize = 48;

// Chunk flags.
inline constexpr std::uint32_t kChunkCarried = 1;  // copied from the previous file, not seen by this job
// Copied from the previous file because nothing in the folder changed: found by lookups like
// an entry this job saw.
inline constexpr std::uint32_t kChunkKept = 2;
inline constexpr std::uint32_t kKnownChunkFlags = kChunkCarried | kChunkKept;

inline constexpr char kFolderKind = 'D';
inline constexpr char kFileKind = 'F';

// A 64-bit hash of `bytes` (8 bytes per step). Every step is a bijection of the running value,
// so two inputs of one length that differ in one 8-byte word never hash alike.
std::uint64_t Hash64(std::string_view bytes) noexcept;

// Hash64 of bytes that come in pieces (a closing index written as it is made): Final gives
// Hash64 of all the pieces back to back, however they were cut.
class CHash64Stream {
public:
    void Update(std::string_view bytes) noexcept;
    std::uint64_t Final() const noexcept;

private:
    std::uint64_t m_state = 0x27D4EB2F165667C5ull;
    std::uint64_t m_size = 0;
    char m_pending[8] = {};
    size_t m_pendingSize = 0;  // bytes of an unfinished word
};

struct STrailer {
    std::uint64_t indexOffset = 0;
    std::uint64_t indexLength = 0;
    std::uint64_t chunkCount = 0;
    std::uint64_t indexHash = 0;
};

void AppendTrailer(const STrailer& trailer, std::string& out);
// Checks magic, version and the reserved field; `cause` says what is wrong.
bool ParseTrailer(std::string_view bytes, STrailer& trailer, std::string& cause);

// One chunk as the folder index lists it. `folder` is the decoded path.
// A chunk's folder name lives in storage its owner keeps for as long as the reference: the
// names of a file's chunks are in that file's CChunkNameArena.
struct SChunkRef {
    std::string_view folder;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::uint32_t flags = 0;
    std::uint64_t hash = 0;
};

// Path order of folders, then offsets: the order of the closing index.
bool ChunkRefLess(const SChunkRef& a, const SChunkRef& b) noexcept;
// Sorts into ChunkRefLess order. Long runs already in that order (the chunks a job keeps from
// the previous file come as one) are merged rather than sorted again.
void SortChunkRefs(std::vector<const SChunkRef*>& chunks);

void AppendIndexLine(const SChunkRef& chunk, std::string& out);
// Where a parse of the closing index stands: it is read a window at a time, so that a large
// record's index text is never held whole beside its parsed records.
struct SIndexParse {
    std::uint64_t dataBegin = 0;
    std::uint64_t dataEnd = 0;
    size_t lineNumber = 0;
};
// Parses whole index lines (`text` ends with a newline or is empty), appending to `chunks`;
// checks every line's form, that the chunks lie in [dataBegin, dataEnd) and the index order
// (across calls too). `cause` says what is wrong and where.
bool ParseIndexLines(std::string_view text, SIndexParse& parse, std::vector<SChunkRef>& chunks, CChunkNameArena& names,
                     std::string& cause);

// One entry line of a chunk, viewed in place.
struct SEntryLine {
    char kind = 0;
    std::string_view escapedName;
    std::string_view text;  // the record text, "" or beginning with '|'
};

// Parses the entry line at `pos` of `chunk` and moves `pos` past its newline. False when the
// line is malformed (`cause` says how).
bool ParseEntryLine(std::string_view chunk, size_t& pos, SEntryLine& line, std::string& cause);

// Splits a record text into its fields: at '|', the empty piece before the first '|' dropped.
void SplitFields(std::string_view text, std::vector<std::string>& fields);

}  // namespace DirChangeFileLayout
