#pragma once
// ZvFIFO: a first-in first-out queue of byte strings kept on disk in a given folder (the
// agent's tmp/), for paths found during the walk that need a pass of their own (new mount
// points, symbolic-link targets, long paths). Their number is not bounded by anything we
// control, so the queue holds at most two small buffers in memory and spills the rest.
//
// Layout: segment files "<name>.<n>.zvq" of length-prefixed records (4-byte little-endian
// length, then the bytes), so a string may hold any byte, newline and NUL included. The
// writer appends to the newest segment through a buffer and starts a new segment once one
// passes the segment length; the reader consumes the oldest and deletes each segment it has
// finished (when it looks for the next record).
// The files belong to this object: they are removed by the destructor. Nothing survives the
// process, and a folder shared by several queues needs distinct names.
//
// A failed write to a segment is final: that call and every later push and pop return it.
//
// Thread: every member may be called from any thread; one lock guards the queue.
#include "Base/KxError.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

class ZvFIFO {
public:
    static constexpr size_t kBufferBytes = 64 * 1024;
    static constexpr std::uint64_t kSegmentBytes = 8 * 1024 * 1024;

    // `segmentBytes`: the length after which the writer starts a new segment file.
    explicit ZvFIFO(std::uint64_t segmentBytes = kSegmentBytes) : m_segmentBytes(segmentBytes) {}
    ~ZvFIFO();
    ZvFIFO(const ZvFIFO&) = delete;
    ZvFIFO& operator=(const ZvFIFO&) = delete;

    // Creates the queue's first segment in `folder` (which must exist). An empty `name` picks
    // a name unique in this process ("fifo.<pid>.<counter>").
    [[nodiscard]] CKxError Open(const std::string& folder, const std::string& name = {});

    [[nodiscard]] CKxError push(std::string_view value);
    // Takes the oldest string; `popped` is false (and `value` empty) when the queue is empty.
    [[nodiscard]] CKxError pop(std::string& value, bool& popped);
    std::uint64_t size() const;
    bool empty() const;

    // Segment files currently on disk (tests watch that finished ones go away).
    std::uint64_t SegmentCount() const;
    std::string SegmentPath(std::uint64_t segment) const;

private:
    CKxError FlushLocked();
    CKxError OpenReadSegmentLocked();
    // Fills `out` with `size` bytes of the read segment (through the read buffer).
    CKxError ReadLocked(char* out, size_t size);
    CKxError PopFromBufferLocked(std::string& value);
    void RemoveFilesLocked();

    const std::uint64_t m_segmentBytes;
    mutable std::mutex m_queueLock;  // guards everything below
    std::string m_folder;
    std::string m_name;
    bool m_open = false;
    CKxError m_failure;  // a failed write may leave a torn record: every later call fails

    std::uint64_t m_count = 0;  // strings pushed and not popped

    // Writer: the segment being appended to, its flushed length, and the unflushed records.
    std::uint64_t m_writeSegment = 0;
    int m_writeFd = -1;
    std::uint64_t m_writeFlushed = 0;
    std::string m_writeBuffer;
    size_t m_writeBufferConsumed = 0;  // records popped straight from the buffer

    // Reader: the oldest segment, the offset consumed from it, and a read-ahead buffer.
    std::uint64_t m_readSegment = 0;
    int m_readFd = -1;
    std::uint64_t m_readOffset = 0;  // file offset of the next unread byte (consumed + buffered)
    std::string m_readBuffer;
    size_t m_readBufferPos = 0;
};
