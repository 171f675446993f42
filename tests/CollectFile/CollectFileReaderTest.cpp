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
    // A size is only a whole decimal number that fits; a "??D" deletion is a folder.
    const std::vector<ReadLine> expected = {{"/d/", true, 0, false},
                                            {"/d/f", false, 12, true},
                                            {"/d/nosize", false, 0, false},
                                            {"", false, 0, false},
                                            {"/d/notanumber|12a", false, 0, false},
                                            {"/d/trailing|", false, 0, false},
                                            {"/d/huge", false, 18446744073709551615ull, true},
                                            {"/d/overflow|18446744073709551616", false, 0, false},
                                            {"%EXTENT%/d/big/0:0:0:0:10:4", false, 4, true},
                                            {"# 12 3 4 5 /d/linked", false, 0, false},
                                            {"??D/d/gone", true, 0, false},
                                            {"/d/last-without-newline", false, 3, true}};
    const std::vector<ReadLine> lines = ReadAll(Path("c.zvf"));
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].line, expected[i].line) << i;
        EXPECT_EQ(lines[i].folder, expected[i].folder) << i;
        EXPECT_EQ(lines[i].size, expected[i].size) << i;
        EXPECT_EQ(lines[i].hasSize, expected[i].hasSize) << i;
    }
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
