#include "CollectFile/CollectFileReader.h"
#include "CollectTestSupport.h"

#include <gtest/gtest.h>

using collecttest::ScratchFilesTest;

namespace {
struct ReadLine {
    std::string line;
    bool folder;
    std::uint64_t size;
    bool hasSize;
};

std::vector<ReadLine> ReadAll(const std::string& path)
{
    CCollectFileReader reader;
    EXPECT_TRUE(reader.OpenCollectFile(path).IsSuccess());
    std::vector<ReadLine> lines;
    std::string line;
    while (true) {
        CKxError e = reader.GetNextLine(line);
        EXPECT_TRUE(e.IsSuccess()) << e.AsString();
        if (e.IsError() || reader.IsEndOfFile())
            break;
        lines.push_back({line, reader.IsDirectory(), reader.GetCurrentItemFileSize(), reader.HasSize()});
    }
    return lines;
}
}  // namespace

TEST_F(ScratchFilesTest, ReaderSplitsSizesFoldersAndSpecialLines)
{
    ASSERT_TRUE(FXFile::WriteFileAtomically(Path("c.zvf"),
                                            "/d/\n"
                                            "/d/f|12\n"
                                            "/d/nosize\n"
                                            "\n"
                                            "/d/notanumber|12a\n"
                                            "/d/trailing|\n"
                                            "/d/huge|18446744073709551615\n"
                                            "/d/overflow|18446744073709551616\n"
                                            "%EXTENT%/d/big/0:0:0:0:10:4|4\n"
                                            "# 12 3 4 5 /d/linked\n"
                                            "??D/d/gone\n"
                                            "/d/last-without-newline|3")
                    .IsSuccess());
    std::vector<ReadLine> lines = ReadAll(Path("c.zvf"));
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[0].line, "/d/");
    EXPECT_TRUE(lines[0].folder);
    EXPECT_EQ(lines[1].line, "/d/f");
    EXPECT_EQ(lines[1].size, 12u);
    EXPECT_FALSE(lines[1].folder);
    EXPECT_EQ(lines[2].size, 0u);
    EXPECT_FALSE(lines[2].hasSize);
    EXPECT_EQ(lines[3].line, "");
    EXPECT_EQ(lines[4].line, "/d/notanumber|12a");
    EXPECT_EQ(lines[4].size, 0u);
    EXPECT_EQ(lines[5].line, "/d/trailing|");
    EXPECT_EQ(lines[6].size, 18446744073709551615ull);
    EXPECT_EQ(lines[7].line, "/d/overflow|18446744073709551616");
    EXPECT_FALSE(lines[7].hasSize);
    EXPECT_EQ(lines[8].line, "%EXTENT%/d/big/0:0:0:0:10:4");
    EXPECT_EQ(lines[8].size, 4u);
    EXPECT_EQ(lines[9].line, "# 12 3 4 5 /d/linked");
    EXPECT_TRUE(lines[10].folder) << "a folder deletion";
    EXPECT_EQ(lines[11].line, "/d/last-without-newline");
    EXPECT_EQ(lines[11].size, 3u);
}

TEST_F(ScratchFilesTest, ReaderHandlesEmptyFilesLongLinesAndManyBuffers)
{
    ASSERT_TRUE(FXFile::WriteFileAtomically(Path("empty.zvf"), "").IsSuccess());
    EXPECT_TRUE(ReadAll(Path("empty.zvf")).empty());

    // Lines longer than the reader's buffer, and a file spanning many buffers.
    const std::string longPath = "/" + std::string(CCollectFileReader::kBufferBytes * 2 + 3, 'L');
    std::string content = longPath + "|9\n";
    for (int i = 0; i < 150000; ++i)
        content += "/many/file-number-" + std::to_string(i) + "|" + std::to_string(i) + "\n";
    content += longPath + "/\n";
    ASSERT_TRUE(FXFile::WriteFileAtomically(Path("big.zvf"), content).IsSuccess());
    std::vector<ReadLine> lines = ReadAll(Path("big.zvf"));
    ASSERT_EQ(lines.size(), 150002u);
    EXPECT_EQ(lines.front().line, longPath);
    EXPECT_EQ(lines.front().size, 9u);
    for (int i = 0; i < 150000; ++i) {
        ASSERT_EQ(lines[1 + i].line, "/many/file-number-" + std::to_string(i));
        ASSERT_EQ(lines[1 + i].size, static_cast<std::uint64_t>(i));
    }
    EXPECT_EQ(lines.back().line, longPath + "/");
    EXPECT_TRUE(lines.back().folder);
}

TEST_F(ScratchFilesTest, ReaderErrorsAreValues)
{
    CCollectFileReader reader;
    std::string line;
    EXPECT_TRUE(reader.GetNextLine(line).IsError()) << "not open";
    CKxError e = reader.OpenCollectFile(Path("missing.zvf"));
    ASSERT_TRUE(e.IsError());
    EXPECT_EQ(e.Code(), ENOENT);
    EXPECT_NE(e.AsString().find("missing.zvf"), std::string::npos);

    ASSERT_TRUE(FXFile::WriteFileAtomically(Path("bad.zvf"), "/ok\\x7cname|1\n/bad\\q|2\n").IsSuccess());
    ASSERT_TRUE(reader.OpenCollectFile(Path("bad.zvf")).IsSuccess());
    std::string path;
    ASSERT_TRUE(reader.GetNextLine(line).IsSuccess());
    ASSERT_TRUE(reader.GetCurrentPath(path).IsSuccess());
    EXPECT_EQ(path, "/ok|name");
    ASSERT_TRUE(reader.GetNextLine(line).IsSuccess());
    e = reader.GetCurrentPath(path);
    ASSERT_TRUE(e.IsError());
    EXPECT_NE(e.AsString().find("Line 2"), std::string::npos) << e.AsString();
}
