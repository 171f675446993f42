#pragma once
// CDirChangeClosedFile: a closed directory-change file opened for reading: its header, trailer
// and folder index checked, the folder index held in memory (one entry per chunk), chunks read
// on demand through the descriptor.
//
// Thread: Open and the destructor belong to the owner; once open, the descriptor and the chunk
// list may be used from any thread (reads use pread).
#include "Base/KxError.h"
#include "CollectFile/DirChangeFileLayout.h"

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CDirChangeClosedFile {
public:
    CDirChangeClosedFile() = default;
    CDirChangeClosedFile(const CDirChangeClosedFile&) = delete;
    CDirChangeClosedFile& operator=(const CDirChangeClosedFile&) = delete;
    ~CDirChangeClosedFile();

    // Missing or unreadable: the system error naming the path. Truncated, not closed or damaged:
    // error 13, "Directory-change file '<path>' is truncated or corrupt: <cause>". On error the
    // object is left closed.
    [[nodiscard]] CKxError Open(const std::string& path);
    // Reads every chunk of the open file once and checks its hash; the error names the first
    // damaged chunk (error 13, as Open's). A record about to be trusted for a whole job is read
    // whole first, so that damage found half way through the walk never leaves some items judged
    // by it and others not.
    [[nodiscard]] CKxError VerifyChunks() const;
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

    int Fd() const { return m_fd; }
    const std::string& Path() const { return m_path; }
    // In path order of folders, a folder's chunks by offset.
    const std::vector<DirChangeFileLayout::SChunkRef>& Chunks() const { return m_chunks; }
    // The storage of the chunks' folder names: whoever keeps copies of chunk references past
    // Close keeps this too.
    const std::shared_ptr<const CChunkNameArena>& Names() const { return m_names; }
    // Where the chunks end (the index begins).
    std::uint64_t DataEnd() const { return m_dataEnd; }
    // The trailer's hash of the folder index: it covers every chunk's place and hash.
    std::uint64_t IndexHash() const { return m_indexHash; }
    // The run of Chunks() that belongs to `folder` exactly, or to `folder` and every folder below
    // it when `withSubtree`.
    std::pair<size_t, size_t> FolderRange(std::string_view folder, bool withSubtree) const;

private:
    // Checks `count` chunks (in file order) through a window of their own.
    [[nodiscard]] CKxError VerifyRange(const DirChangeFileLayout::SChunkRef* const* chunks, size_t count) const;

    int m_fd = -1;
    std::string m_path;
    std::vector<DirChangeFileLayout::SChunkRef> m_chunks;
    std::shared_ptr<const CChunkNameArena> m_names;  // the chunks' folder names
    std::uint64_t m_dataEnd = 0;
    std::uint64_t m_indexHash = 0;
};
