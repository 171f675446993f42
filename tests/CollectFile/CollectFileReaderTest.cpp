// Collect files written with start characters and read back, and the reader's parsing of
// every kind of line.
#include "CollectFile/BasicCollectFile.h"
#include "CollectFile/CollectFileFileEntry.h"
#include "CollectFile/CollectFileFolderEntry.h"
#include "CollectFile/CollectFileReader.h"
#include "CollectFile/StartCharacterCollectLineFormatter.h"
#include "CollectTestSupport.h"

#include <gtest/gtest.h>

using collecttest::ScratchFilesTest;

namespace {
CCollectLineCommonInfoPtr Info(std::string localVolume)
{
    auto info = std::make_shared<CCollectLineCommonInfo>();
    info->jobId = 42;
    info->localVolumePath = std::move(localVolume);
    return info;
}

std::string Format(const CStartCharacterCollectLineFormatter& formatter, const CCollectFileEntry& entry)
{
    std::string line;
    formatter.FormatLine(entry, line);
    return line;
}

// Each line read, followed by " D" when it is a folder and " =<size>" when it has a size;
// after its start character and ':' when the file has them.
std::vector<std::string> ReadAll(const std::string& path, bool startCharacters = false)
{
    CCollectFileReader reader;
    reader.SetHasStartCharacters(startCharacters);
    EXPECT_TRUE(reader.OpenCollectFile(path).IsSuccess());
    std::vector<std::string> lines;
    std::string line;
    while (true) {
        CKxError e = reader.GetNextLine(line);
        EXPECT_TRUE(e.IsSuccess()) << e.AsString();
        if (e.IsError() || reader.IsEndOfFile())
            break;
        lines.push_back((startCharacters ? std::string{reader.GetCurrentStartCharacter(), ':'} : "") + line +
                        (reader.IsDirectory() ? " D" : "") +
                        (reader.HasSize() ? " =" + std::to_string(reader.GetCurrentItemFileSize()) : ""));
    }
    return lines;
}
}  // namespace

TEST(StartCharacterFormatter, KindsSeparatorAndPathMapping)
{
    // (Escaping and sizes: the basic collect file's case below.)
    CStartCharacterCollectLineFormatter tabs(nullptr, 'f', 'd', 'p', '\t');
    EXPECT_EQ(Format(tabs, CCollectFileFileEntry("/x", 3)), "f/x\t3");
    EXPECT_EQ(Format(tabs, CCollectFileFolderEntry("/")), "d/");
    tabs.SetContentPush(true);
    EXPECT_EQ(Format(tabs, CCollectFileFolderEntry("/a")), "p/a/");

    CStartCharacterCollectLineFormatter formatter(Info("/snap/vol1"), 'F', 'D', 'P');
    EXPECT_EQ(formatter.MapPath("/snap/vol1/a/b"), "/snap/vol1/a/b") << "no source volume: paths stay";
    formatter.SetSourceVolumePath("/data");
    EXPECT_EQ(formatter.MapPath("/snap/vol1/a/b"), "/data/a/b");
    EXPECT_EQ(formatter.MapPath("/snap/vol1"), "/data");
    EXPECT_EQ(formatter.MapPath("/snap/vol10/a"), "/snap/vol10/a") << "a sibling with a common prefix";
    formatter.SetBackupAtPath("/restored");
    EXPECT_EQ(formatter.MapPath("/snap/vol1/a/b"), "/restored/a/b");
    EXPECT_EQ(formatter.MapPath("/snap/vol1"), "/restored");
    formatter.SetMigrationAssistantPath("/data/migrated");
    EXPECT_EQ(formatter.MapPath("/snap/vol1/migrated/home/u"), "/home/u");
    EXPECT_EQ(formatter.MapPath("/snap/vol1/migrated"), "/");
    EXPECT_EQ(formatter.MapPath("/snap/vol1/other"), "/data/other");

    CStartCharacterCollectLineFormatter root(Info("/"), 'F', 'D', 'P');
    root.SetBackupAtPath("/under");
    EXPECT_EQ(root.MapPath("/etc/passwd"), "/under/etc/passwd");
    EXPECT_EQ(Format(root, CCollectFileFolderEntry("/")), "D/under/");
}

TEST_F(ScratchFilesTest, BasicCollectFileWritesEntriesInCallOrder)
{
    CStartCharacterCollectLineFormatter formatter(Info(""), 'F', 'D', 'P');
    CBasicCollectFile collect;
    EXPECT_TRUE(collect.OpenOutputFile().IsError()) << "no path set";
    collect.SetOutputFilePath(Path("basic.zvf"));
    collect.SetIsFullBackup(true);
    collect.SetPathMaximumLength(16);
    ASSERT_TRUE(collect.OpenOutputFile().IsSuccess());
    ASSERT_TRUE(collect.AddEntry(CCollectFileFolderEntry("/d"), formatter).IsSuccess());
    ASSERT_TRUE(collect.AddEntry(CCollectFileFileEntry("/d/new\nline", 5), formatter).IsSuccess());
    ASSERT_TRUE(collect.RawWriteLine("%SCFILES%/results").IsSuccess());
    CKxError tooLong = collect.AddEntry(CCollectFileFileEntry("/d/" + std::string(14, 'x'), 1), formatter);
    EXPECT_EQ(tooLong.Code(), ENAMETOOLONG);
    ASSERT_TRUE(collect.AddEntry(CCollectFileFileEntry("/d/" + std::string(13, 'x'), 1), formatter).IsSuccess());
    collect.SetAllowFolders(false);
    ASSERT_TRUE(collect.AddEntry(CCollectFileFolderEntry("/e"), formatter).IsSuccess());
    EXPECT_EQ(collect.GetCountedFoldersWritten(), 1u);
    EXPECT_EQ(collect.GetCountedFilesWritten(), 2u);
    EXPECT_EQ(collect.GetCountedEntriesSkipped(), 2u);
    EXPECT_EQ(collect.GetDataSize(), 6u);
    ASSERT_TRUE(collect.Close().IsSuccess());
    EXPECT_EQ(Read(Path("basic.zvf")), "D/d/\nF/d/new\\x0aline|5\n%SCFILES%/results\nF/d/xxxxxxxxxxxxx|1\n");

    // What it wrote reads back through a reader that knows about start characters.
    EXPECT_EQ(ReadAll(Path("basic.zvf"), true), (std::vector<std::string>{"D:/d/ D", "F:/d/new\\x0aline =5",
                                                                          "%:SCFILES%/results", "F:/d/xxxxxxxxxxxxx =1"}));

    if (::access("/dev/full", W_OK) == 0) {
        CBasicCollectFile full;
        full.SetOutputFilePath("/dev/full");
        ASSERT_TRUE(full.OpenOutputFile().IsSuccess());
        ASSERT_TRUE(full.RawWriteLine("x").IsSuccess());
        CKxError e = full.Close();
        EXPECT_EQ(e.Code(), ENOSPC);
        EXPECT_NE(e.AsString().find("/dev/full"), std::string::npos);
    }
}

TEST_F(ScratchFilesTest, ReaderSplitsSizesFoldersSpecialAndLongLines)
{
    Write(Path("c.zvf"), "/d/\n/d/f|12\n/d/nosize\n\n/d/notanumber|12a\n/d/trailing|\n/d/huge|18446744073709551615\n"
                         "/d/overflow|18446744073709551616\n%EXTENT%/d/big/0:0:0:0:10:4|4\n# 12 3 4 5 /d/linked\n"
                         "??D/d/gone\n/d/last-without-newline|3");
    // A size is only a whole decimal number that fits; a "??D" deletion is a folder.
    EXPECT_EQ(ReadAll(Path("c.zvf")),
              (std::vector<std::string>{"/d/ D", "/d/f =12", "/d/nosize", "", "/d/notanumber|12a", "/d/trailing|",
                                        "/d/huge =18446744073709551615", "/d/overflow|18446744073709551616",
                                        "%EXTENT%/d/big/0:0:0:0:10:4 =4", "# 12 3 4 5 /d/linked", "??D/d/gone D",
                                        "/d/last-without-newline =3"}));
    Write(Path("empty.zvf"), "");
    EXPECT_TRUE(ReadAll(Path("empty.zvf")).empty());

    // Lines longer than the reader's buffer, and a file spanning many buffers.
    const std::string longPath = "/" + std::string(CCollectFileReader::kBufferBytes * 2 + 3, 'L');
    std::string content = longPath + "|9\n";
    for (int i = 0; i < 150000; ++i)
        content += "/many/file-number-" + std::to_string(i) + "|" + std::to_string(i) + "\n";
    Write(Path("big.zvf"), content + longPath + "/\n");
    std::vector<std::string> lines = ReadAll(Path("big.zvf"));
    ASSERT_EQ(lines.size(), 150002u);
    EXPECT_TRUE(lines.front() == longPath + " =9");
    for (int i = 0; i < 150000; ++i)
        ASSERT_EQ(lines[1 + i], "/many/file-number-" + std::to_string(i) + " =" + std::to_string(i));
    EXPECT_TRUE(lines.back() == longPath + "/ D");
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

    Write(Path("bad.zvf"), "/ok\\x7cname|1\n/bad\\q|2\n");
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
