#include "Base/DirChangePathOrder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

TEST(DirChangePathOrderTest, DescendantsFollowTheirFolderAndSplitJoinRoundTrips)
{
    std::vector<std::string> paths = {"/a!b", "/a/b/c", "/ab", "/a", "/", "", "/a/b", "/a b", "/a/b!", "/a\xff"};
    std::sort(paths.begin(), paths.end(), DirChangePathOrder::Less);
    EXPECT_EQ(paths, (std::vector<std::string>{"", "/", "/a", "/a/b", "/a/b/c", "/a/b!", "/a b", "/a!b", "/ab",
                                               "/a\xff"}));
    for (const auto& [folder, path, below] : std::vector<std::tuple<const char*, const char*, bool>>{
             {"/a", "/a/b", true}, {"/a", "/a", true}, {"/", "/x", true}, {"/a", "/a!b", false}, {"/a", "/ab", false},
             {"/a/b", "/a", false}})
        EXPECT_EQ(DirChangePathOrder::IsSameOrBelow(folder, path), below) << folder << " " << path;

    for (const std::string path : {"/", "/a", "/a/b", "rel", "rel/x"}) {
        std::string_view folder, name;
        DirChangePathOrder::Split(path, folder, name);
        std::string joined;
        DirChangePathOrder::AppendJoined(folder, name, joined);
        EXPECT_EQ(joined, path);
    }
    EXPECT_EQ(DirChangePathOrder::TrimTrailingSlashes("/a//"), "/a");
    EXPECT_EQ(DirChangePathOrder::TrimTrailingSlashes("//"), "/");
}

TEST(DirChangePathOrderTest, LongPathsCompareByteByByteWithTheSlashLowest)
{
    // The byte-by-byte rule the word-wise search must agree with, wherever the first
    // difference falls within or across words.
    auto reference = [](std::string_view a, std::string_view b) {
        for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
            if (a[i] == b[i])
                continue;
            if (a[i] == '/' || b[i] == '/')
                return a[i] == '/' ? -1 : 1;
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]) ? -1 : 1;
        }
        return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
    };
    const std::string base = "/tmp/bench/tree200k/d03_gamrhomergam/d01_sibrigam";
    const char replacements[] = {'/', '!', '0', 'a', '\xff', ' '};
    for (size_t at = 0; at < base.size(); ++at)
        for (char replacement : replacements) {
            std::string other = base;
            other[at] = replacement;
            for (const std::string& b : {other, other.substr(0, at + 1), other + "/x"}) {
                ASSERT_EQ(DirChangePathOrder::Compare(base, b), reference(base, b)) << b;
                ASSERT_EQ(DirChangePathOrder::Compare(b, base), reference(b, base)) << b;
            }
        }
}
