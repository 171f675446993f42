#pragma once
// CStubCollectFile: the stub collect file of an archiving job ("StubCollect.zvf" in the
// subclient results folder): one line per file selected to become a stub, its escaped source
// path, '|' and its size, as a collect file's item line.
//
// The lines go to a temporary file beside the final name (O_EXCL, unpredictable name) and the
// file is synced and renamed into place by Close: the reader never sees half of it, and a job
// that stops before Close leaves no stub collect file.
//
// Thread: Add from every worker thread (m_lock guards the buffer and the file); Open and Close on
// the driver's thread, before and after the walk.
#include "Base/KxError.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

class CStubCollectFile {
public:
    explicit CStubCollectFile(std::string path);
    ~CStubCollectFile();
    CStubCollectFile(const CStubCollectFile&) = delete;
    CStubCollectFile& operator=(const CStubCollectFile&) = delete;

    [[nodiscard]] CKxError Open();
    [[nodiscard]] CKxError Add(std::string_view sourcePath, std::uint64_t size);
    // Writes what is buffered, syncs and renames the file into place.
    [[nodiscard]] CKxError Close();
    std::uint64_t GetCount() const;

private:
    [[nodiscard]] CKxError FlushLocked();

    const std::string m_path;
    mutable std::mutex m_lock;  // guards everything below
    std::string m_temp;
    int m_fd = -1;
    std::string m_buffer;
    std::uint64_t m_count = 0;
};

using CStubCollectFilePtr = std::shared_ptr<CStubCollectFile>;
