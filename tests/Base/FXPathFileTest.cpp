#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/ScratchFolderTest.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <tuple>
#include <vector>

TEST(FXPath, AppendPutsExactlyOneSeparator)
{
    for (const auto& [folder, name, joined] : std::vector<std::tuple<const char*, const char*, const char*>>{
             {"/r", "a", "/r/a"}, {"/r/", "/a", "/r/a"}, {"/r//", "//a", "/r/a"}, {"/", "a", "/a"}, {"", "a", "a"},
             {"/r", "", "/r"}})
        EXPECT_EQ(FXPath::Append(folder, name), joined) << folder << " + " << name;
}

TEST(FXPath, ParentNameAndContainment)
{
    EXPECT_EQ(FXPath::Parent("/a/b/"), "/a");
    EXPECT_EQ(FXPath::Parent("/a"), "/");
    EXPECT_EQ(FXPath::Parent("/"), "");
    EXPECT_EQ(FXPath::FileName("/a/b/"), "b");
    EXPECT_EQ(FXPath::FileName("/"), "");
    for (const auto& [path, folder, under] : std::vector<std::tuple<const char*, const char*, bool>>{
             {"/a/b", "/a", true}, {"/a", "/a/", true}, {"/ab", "/a", false}, {"/x", "/", true}})
        EXPECT_EQ(FXPath::IsUnder(path, folder), under) << path << " under " << folder;
}

using FXFileTest = ScratchFolderTest;

TEST_F(FXFileTest, AtomicWriteReplacesWholeAndErrorsNameThePath)
{
    std::string path = m_dir + "/state.zvf";
    ASSERT_TRUE(FXFile::WriteFileAtomically(path, "old").IsSuccess());
    ASSERT_TRUE(FXFile::WriteFileAtomically(path, "new content").IsSuccess());
    std::string content;
    ASSERT_TRUE(FXFile::ReadWholeFile(path, content).IsSuccess());
    EXPECT_EQ(content, "new content");
    std::vector<std::string> names;
    ASSERT_TRUE(FXFile::ListMatchingFiles(m_dir, "*", names).IsSuccess());
    EXPECT_EQ(names, std::vector<std::string>{"state.zvf"});  // no temporary left behind

    CKxError e = FXFile::WriteFileAtomically(m_dir + "/no/such/folder/f", "x");
    ASSERT_TRUE(e.IsError());
    EXPECT_NE(e.Message().find("/no/such/folder/f"), std::string::npos);
    e = FXFile::ReadWholeFile(m_dir + "/absent", content);
    EXPECT_EQ(e.Code(), ENOENT);
}
