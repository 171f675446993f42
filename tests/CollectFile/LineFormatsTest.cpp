// The lines of the failed-file list and of the commit file: every form, read from the right
// where a path may hold the separators, and the failed line written back to the same bytes.
// The lines of files backed up by extents: each kind written and read back to the same value,
// paths holding the separators, lines the split left without a size, and what is refused.
#include "CollectFile/ExtentLine.h"
#include "CollectFile/OwedItemLine.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using Owed = COwedItemLine::EKind;
using Extent = CExtentLine::EKind;

struct SCase {
    bool commit;
    const char* line;
    bool ok;
    Owed kind;
    const char* path;
    bool folder;
    int error;
};

TEST(OwedItemLineTest, ParsesEveryFormAndWritesFailedLinesBack)
{
    const SCase cases[] = {
        {false, "/data/a:b:13\n", true, Owed::Item, "/data/a:b", false, 13},
        {false, "/data/x.dat:5\r\n", true, Owed::Item, "/data/x.dat", false, 5},
        {false, "/data/dir/:13", true, Owed::Item, "/data/dir", true, 13},
        {false, "%CONTAINERACL%/data/acl:1", true, Owed::AclOnly, "/data/acl", false, 1},
        {false, "/data/new\\x0aline\\x7cx\\\\y:2", true, Owed::Item, "/data/new\nline|x\\y", false, 2},
        {false, "/d/::5", true, Owed::Item, "/d/:", false, 5},
        {false, "\t/data/ignored:5", true, Owed::Skip, "", false, 0},
        {false, "", true, Owed::Skip, "", false, 0},
        {false, "/data/no-error", false, Owed::Item, "", false, 0},
        {false, "/data/x:five", false, Owed::Item, "", false, 0},
        {false, "relative:5", false, Owed::Item, "", false, 0},
        {true, "??d/data/gone", true, Owed::Deleted, "/data/gone", false, 0},
        {true, "??D/data/gone dir", true, Owed::Deleted, "/data/gone dir", true, 0},
        {true, "%EXTENT%/data/big:1/file/3:0:0:0:1048576:4096", true, Owed::Extent, "/data/big:1/file", false, 0},
        {true, "%CONTAINER%/data/c:1:2:3:4:5", true, Owed::Container, "/data/c", false, 0},
        {true, "%CONTAINER%/data/c:7", false, Owed::Container, "", false, 0},
        {true, "# 12 2049 1700000000 4 /data/hard link", true, Owed::HardLink, "/data/hard link", false, 0},
        {true, "# /", true, Owed::Skip, "", false, 0},
        {true, "# 12 2049", false, Owed::HardLink, "", false, 0},
        {true, "///device/dev/sdb", true, Owed::RawDevice, "/dev/sdb", false, 0},
        {true, "/data/pipe\\x7cname|42", true, Owed::Item, "/data/pipe|name", false, 0},
        {true, "/data/folder/", true, Owed::Item, "/data/folder", true, 0},
        {true, "/", true, Owed::Item, "/", false, 0},
        {true, "\t??d/data/x", true, Owed::Skip, "", false, 0},
        {true, "/bad\\q", false, Owed::Item, "", false, 0},
    };
    for (const SCase& c : cases) {
        COwedItemLine parsed;
        const CKxError error = c.commit ? COwedItemLine::ParseCommitLine(c.line, parsed)
                                        : COwedItemLine::ParseFailedLine(c.line, parsed);
        ASSERT_EQ(error.IsSuccess(), c.ok) << c.line << ": " << error.AsString();
        if (!c.ok) {
            EXPECT_EQ(error.Code(), KxCode::InvalidData) << c.line;
            continue;
        }
        EXPECT_EQ(parsed.kind, c.kind) << c.line;
        EXPECT_EQ(parsed.path, c.path) << c.line;
        EXPECT_EQ(parsed.folder, c.folder) << c.line;
        EXPECT_EQ(parsed.error, c.error) << c.line;
        if (!c.commit && c.kind == Owed::Item && !c.folder) {  // written back, read the same
            COwedItemLine again;
            ASSERT_TRUE(COwedItemLine::ParseFailedLine(COwedItemLine::FormatFailedLine(parsed.path, c.error), again).IsSuccess());
            EXPECT_EQ(std::tie(again.path, again.error), std::tie(parsed.path, parsed.error)) << c.line;
        }
    }
}

CExtentLine Make(Extent kind, std::string path, std::uint64_t index, bool hasSize, std::uint64_t size)
{
    CExtentLine line;
    line.kind = kind;
    line.path = std::move(path);
    line.device = 2049;
    line.inode = 77;
    line.mtime = static_cast<std::uint64_t>(std::int64_t{-5});  // before 1970: the unsigned image
    line.fileSize = 25ULL << 30;
    line.extentSize = 10ULL << 30;
    line.index = index;
    line.hasSize = hasSize;
    line.size = size;
    return line;
}

TEST(ExtentLineTest, EveryKindRoundTripsSplitLinesReadAndMalformedOnesRefused)
{
    const CExtentLine lines[] = {
        Make(Extent::Qualified, "/data/big:1/a.img", 0, true, 25ULL << 30),
        Make(Extent::Extent, "/data/new\nline/7:8", 2, true, 5ULL << 30),
        Make(Extent::Container, "/data/pipe|name/3", 0, false, 0),
    };
    for (const CExtentLine& line : lines) {
        const std::string text = line.Format();
        CExtentLine parsed;
        ASSERT_TRUE(CExtentLine::Parse(text, parsed).IsSuccess()) << text;
        EXPECT_EQ(parsed, line) << text;
    }
    EXPECT_EQ(lines[1].Format(),
              "%EXTENT%/data/new\\x0aline/7:8/2:2049:77:18446744073709551611:26843545600:10737418240|5368709120");

    // The split takes the size off: an extent's length then comes from its index.
    CExtentLine split;
    ASSERT_TRUE(CExtentLine::Parse("%EXTENT%/d/f/2:1:2:3:26843545600:10737418240", split).IsSuccess());
    EXPECT_FALSE(split.hasSize);
    EXPECT_EQ(split.ExtentLength(2), 5ULL << 30);
    EXPECT_EQ(split.ExtentLength(3), 0u);

    Extent kind{};
    for (const char* other : {"/d/f|3", "%CONTAINERACL%/d/f", "??d/d/f", "# 1 2 3 4 /d/f", ""})
        EXPECT_FALSE(CExtentLine::KindOf(other, kind)) << other;
    for (const char* bad : {
             "%EXTENT%/d/f/0:1:2:3:4|5",         // four numbers
             "%EXTENT%/d/f:1:2:3:4:5|5",         // no index
             "%EXTENTQ%/d/f:1:2:3:4:5|x",        // size not a number
             "%CONTAINER%/d/f:1:2:-3:4:5",       // sign
             "%CONTAINER%:1:2:3:4:5",            // no path
             "%CONTAINER%/d/\\q:1:2:3:4:5",      // does not decode
             "%EXTENTQ%/d/f:1:2:3:4:99999999999999999999|4",  // overflow
             "/d/f:1:2:3:4:5",
         }) {
        CExtentLine parsed;
        const CKxError error = CExtentLine::Parse(bad, parsed);
        EXPECT_EQ(error.Code(), KxCode::InvalidData) << bad;
    }
}

}  // namespace
