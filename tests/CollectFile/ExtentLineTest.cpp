// The lines of files backed up by extents: each kind written and read back to the same value,
// paths holding the separators, lines the split left without a size, and what is refused.
#include "CollectFile/ExtentLine.h"

#include <gtest/gtest.h>

namespace {

using EKind = CExtentLine::EKind;

CExtentLine Make(EKind kind, std::string path, std::uint64_t index, bool hasSize, std::uint64_t size)
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
        Make(EKind::Qualified, "/data/big:1/a.img", 0, true, 25ULL << 30),
        Make(EKind::Extent, "/data/new\nline/7:8", 2, true, 5ULL << 30),
        Make(EKind::Container, "/data/pipe|name/3", 0, false, 0),
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

    EKind kind{};
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
