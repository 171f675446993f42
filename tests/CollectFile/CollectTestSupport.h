#pragma once
// Shared by the collect-file tests: a scratch folder per test and a write path that fails on
// demand.
#include "Base/FXFile.h"
#include "Base/ScratchFolderTest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace collecttest {

// The scratch folder of the Base tests, with file helpers.
class ScratchFilesTest : public ::ScratchFolderTest {
protected:
    std::string Path(const std::string& name) const { return m_dir + "/" + name; }
    static std::string Read(const std::string& path)
    {
        std::string content;
        EXPECT_TRUE(FXFile::ReadWholeFile(path, content).IsSuccess()) << path;
        return content;
    }
    static void Write(const std::string& path, const std::string& bytes)
    {
        ASSERT_TRUE(FXFile::WriteFileAtomically(path, bytes).IsSuccess()) << path;
    }
};

// write(2) and pwrite(2) stand-ins: pass the first `g_writesLeft` calls through (each at most
// `g_maxChunk` bytes when that is non-zero, to exercise short writes), then fails with
// `g_failErrno`.
inline std::atomic<long> g_writesLeft{-1};  // -1: never fail
inline std::atomic<int> g_failErrno{ENOSPC};
inline std::atomic<size_t> g_maxChunk{0};

// The bytes of `size` the next write may move, or -1 with errno set when it is to fail.
inline ssize_t AllowedBytes(size_t size)
{
    long left = g_writesLeft.load();
    if (left == 0) {
        errno = g_failErrno.load();
        return -1;
    }
    if (left > 0)
        g_writesLeft.fetch_sub(1);
    size_t chunk = g_maxChunk.load();
    return static_cast<ssize_t>(chunk && size > chunk ? chunk : size);
}
inline ssize_t FaultyWrite(int fd, const void* data, size_t size)
{
    const ssize_t allowed = AllowedBytes(size);
    return allowed < 0 ? -1 : ::write(fd, data, static_cast<size_t>(allowed));
}
inline ssize_t FaultyPwrite(int fd, const void* data, size_t size, off_t offset)
{
    const ssize_t allowed = AllowedBytes(size);
    return allowed < 0 ? -1 : ::pwrite(fd, data, static_cast<size_t>(allowed), offset);
}

inline void ResetFaults(long writesLeft = -1, int failErrno = ENOSPC, size_t maxChunk = 0)
{
    g_writesLeft = writesLeft;
    g_failErrno = failErrno;
    g_maxChunk = maxChunk;
}

}  // namespace collecttest
