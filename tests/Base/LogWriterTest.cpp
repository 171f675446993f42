// The log writer's rotation: processes appending to one log at once lose and split no line,
// and only the number of rotated files asked for is kept.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <string>

#include "Base/LogWriter.h"
#include "ScratchFolderTest.h"

namespace {
class LogWriterTest : public ScratchFolderTest {
protected:
    void TearDown() override
    {
        CLogWriter::Instance().Close();
        CLogWriter::Instance().SetRotation(CLogWriter::kDefaultRotateBytes, CLogWriter::kDefaultKeep);
        ScratchFolderTest::TearDown();
    }
    std::string Log(unsigned n = 0) const { return m_dir + "/fsweep.log" + (n ? "." + std::to_string(n) : ""); }

    // Writes `lines` lines "writer <id> line <k>" through the process-wide writer.
    void WriteLines(int id, int lines) const
    {
        CLogWriter& log = CLogWriter::Instance();
        ASSERT_TRUE(log.Open(Log(), 0).IsSuccess());
        for (int k = 0; k < lines; ++k)
            log.Write(0, "Test", 1, "writer %d line %d %s", id, k, std::string(60, 'x').c_str());
    }
};

TEST_F(LogWriterTest, TwoProcessesRotatingAt64KiBLoseNoLine)
{
    constexpr int kLines = 4000;  // some 0.5 MB each: eight rotations or more while both write
    CLogWriter::Instance().SetRotation(64 << 10, 100);
    pid_t children[2];
    for (int id = 0; id < 2; ++id) {
        children[id] = ::fork();
        ASSERT_GE(children[id], 0);
        if (children[id] == 0) {
            WriteLines(id, kLines);
            ::_exit(::testing::Test::HasFailure() ? 1 : 0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::map<std::pair<int, int>, int> seen;
    unsigned files = 0;
    for (unsigned n = 0; n <= 100; ++n) {
        std::ifstream in(Log(n));
        if (!in)
            continue;
        ++files;
        struct stat status {};
        ASSERT_EQ(::stat(Log(n).c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0600u);
        for (std::string line; std::getline(in, line);) {
            int id = -1, k = -1;
            const size_t at = line.find("writer ");
            ASSERT_NE(at, std::string::npos) << line;
            ASSERT_EQ(std::sscanf(line.c_str() + at, "writer %d line %d", &id, &k), 2) << line;
            EXPECT_EQ(line.size() - line.rfind(' '), 61u) << "split line: " << line;
            ++seen[{id, k}];
        }
    }
    EXPECT_GE(files, 8u);
    EXPECT_EQ(seen.size(), 2u * kLines);
    for (const auto& [key, count] : seen)
        EXPECT_EQ(count, 1) << "writer " << key.first << " line " << key.second;
}

TEST_F(LogWriterTest, KeepsAsManyRotatedFilesAsAskedAndRefusesALink)
{
    for (unsigned keep : {0u, 2u}) {
        CLogWriter::Instance().SetRotation(4 << 10, keep);
        WriteLines(0, 1000);
        for (unsigned n = 1; n <= 3; ++n)
            EXPECT_EQ(::access(Log(n).c_str(), F_OK) == 0, n <= keep) << "keep " << keep << ", file " << n;
        CLogWriter::Instance().Close();
    }
    ASSERT_EQ(::unlink(Log().c_str()), 0);
    ASSERT_EQ(::symlink(Log(1).c_str(), Log().c_str()), 0);
    EXPECT_TRUE(CLogWriter::Instance().Open(Log(), 0).IsError());
}
}  // namespace
