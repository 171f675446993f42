#pragma once
// CBufferedFile: an append-only output file written through one large buffer.
//
// Collect files receive one short line per item from several walker threads, so every line
// goes into a buffer (1 MiB by default) and the buffer reaches the kernel whole. Each Append is
// atomic with respect to the others: the bytes of one call are never split by another call's.
//
// A failed write (ENOSPC, EIO, ...) is sticky: it is returned by that call and by every later
// Append, Flush and Close, always naming the file, so that no item is silently dropped. Bytes
// accepted into the buffer before the failure are lost with it; the caller must treat the
// error as the loss of the file.
//
// Thread: Append, Flush, Tell, IsOpen may be called from any thread once Open has returned.
// Open and Close must not race with other calls (the owner opens before the walk and closes
// after it). SetWriteFunction is for tests and must be called before Open.
#include "Base/KxError.h"
#include "Base/WriteBackStarter.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/types.h>

class CBufferedFile {
public:
    // The system call that moves bytes to the file; tests replace it to inject failures.
    using WriteFunction = ssize_t (*)(int fd, const void* data, size_t size);

    // A quarter MiB: a write call per 256 KB costs little, and each page of the buffer costs a
    // fault the first time it is filled (a 1 MiB buffer cost a job about 4 ms of faults).
    static constexpr size_t kDefaultBufferSize = size_t{256} << 10;

    explicit CBufferedFile(size_t bufferSize = kDefaultBufferSize);
    ~CBufferedFile();  // closes without reporting; call Close to see a failure
    CBufferedFile(const CBufferedFile&) = delete;
    CBufferedFile& operator=(const CBufferedFile&) = delete;

    // Creates or truncates `path` (append false) or opens it for appending (append true; Tell
    // then starts at its present size). Opening an open file is an error.
    [[nodiscard]] CKxError Open(const std::string& path, bool append = false);
    [[nodiscard]] CKxError Append(std::string_view bytes);
    // Appends the whole content of the file at `path` (read in bounded chunks).
    [[nodiscard]] CKxError AppendFile(const std::string& path, std::uint64_t* appended = nullptr);
    [[nodiscard]] CKxError Flush();
    // Flushes and closes; closing a closed file is success.
    [[nodiscard]] CKxError Close();

    bool IsOpen() const;
    // Bytes in the file including those still buffered.
    std::uint64_t Tell() const;
    const std::string& Path() const { return m_path; }

    void SetWriteFunction(WriteFunction write) { m_write = write; }
    // For a file whose bytes are final as written (nothing rewrites them before the job ends):
    // their write-back to disk is started as they reach the kernel, so that the job's final sync
    // finds little left to wait for. Call before Open.
    void SetStartWriteBack(bool start) { m_startWriteBack = start; }

    // Runs `fn` under the file's lock, so that a caller can keep its own counters consistent
    // with the bytes appended; `fn` receives a sink with the same Append semantics.
    class CLockedSink {
    public:
        [[nodiscard]] CKxError Append(std::string_view bytes) { return m_file.AppendLocked(bytes); }

    private:
        friend class CBufferedFile;
        explicit CLockedSink(CBufferedFile& file) : m_file(file) {}
        CBufferedFile& m_file;
    };
    template <typename Fn>
    CKxError WithLock(Fn&& fn)
    {
        std::lock_guard lock(m_bufferLock);
        CLockedSink sink(*this);
        return fn(sink);
    }

private:
    CKxError AppendLocked(std::string_view bytes);
    CKxError FlushLocked();
    CKxError WriteAllLocked(const char* data, size_t size);
    CKxError Failed(int errnum, const char* what);

    const size_t m_capacity;
    WriteFunction m_write;
    std::string m_path;

    mutable std::mutex m_bufferLock;  // guards everything below
    int m_fd = -1;
    char* m_buffer = nullptr;
    size_t m_used = 0;
    std::uint64_t m_tell = 0;
    std::uint64_t m_handedOver = 0;       // bytes in the file (not in the buffer)
    bool m_startWriteBack = false;
    std::unique_ptr<CWriteBackStarter> m_writeBack;  // while open, when m_startWriteBack
    CKxError m_failure;  // sticky write failure
};
