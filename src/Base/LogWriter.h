#pragma once
// CLogWriter: the process-wide log writer. One line per call:
//   "2026-12-05 15:56:44 <pid> <tid> <level> <function signature>:<line> <message>"
// A line is written when the writer's level is at least the line's level: -1 errors (always),
// 0 the ordinary course of a job, 2 function traces, 3-5 per-item decisions, 7-10 debugging.
// Before Open the writer drops everything but errors, which go to standard error as one plain
// line each, "<program>: <message>" with line breaks turned into blanks: standard error is read
// by an operator, who needs the problem, not the function that met it.
//
// The file is rotated once it reaches a size: "fsweep.log" becomes "fsweep.log.1", the older
// ones move up by one and the oldest beyond the number kept is dropped. Several processes (two
// jobs of one instance) may append to one log: each line is one append, and the process that
// finds the file full renames it under an exclusive lock on that file, so no line is lost or
// split and the files are renamed once per rotation.
//
// Thread: all members may be called from any thread; lines never interleave.
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "Base/KxError.h"

class CLogWriter {
public:
    static CLogWriter& Instance();

    // Appends to `path` (its folder must exist). Reopening moves the writer to the new file.
    // The file and its folder are opened without following links.
    CKxError Open(const std::string& path, int level);
    void Close();
    static constexpr uint64_t kDefaultRotateBytes = 10u << 20;
    static constexpr unsigned kDefaultKeep = 5;
    // Rotates the file once it holds `bytes` (0: never) and keeps `keep` rotated files.
    void SetRotation(uint64_t bytes, unsigned keep);
    void SetLevel(int level) { m_level.store(level, std::memory_order_relaxed); }
    int Level() const { return m_level.load(std::memory_order_relaxed); }
    bool Enabled(int level) const { return level <= Level(); }
    std::string Path() const;

    void Write(int level, const char* function, unsigned line, const char* format, ...)
        __attribute__((format(printf, 5, 6)));
    void WriteV(int level, const char* function, unsigned line, const char* format, va_list args);

private:
    CLogWriter() = default;
    void CloseLocked();
    void AppendLocked(const std::string& text);
    void RotateLocked();
    std::string RotatedName(unsigned n) const;

    std::atomic<int> m_level{-1};
    mutable std::mutex m_fileLock;  // guards everything below
    int m_fd = -1;
    int m_folderFd = -1;
    std::string m_name;  // the file's name inside its folder
    std::string m_path;
    uint64_t m_rotateBytes = kDefaultRotateBytes;
    unsigned m_keep = kDefaultKeep;
};

#define FSLOG(level, ...)                                                                  \
    do {                                                                                   \
        if (CLogWriter::Instance().Enabled(level))                                         \
            CLogWriter::Instance().Write((level), __PRETTY_FUNCTION__, __LINE__, __VA_ARGS__); \
    } while (false)
#define FSLOG_ERROR(...) FSLOG(-1, __VA_ARGS__)
