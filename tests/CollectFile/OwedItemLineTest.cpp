// The lines of the failed-file list and of the commit file: every form, read from the right
// where a path may hold the separators, and the failed line written back to the same bytes.
#include "CollectFile/OwedItemLine.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using EKind = COwedItemLine::EKind;

struct SCase {
    bool commit;
    const char* line;
    bool ok;
    EKind kind;
    const char* path;
    bool folder;
    int error;
};

TEST(OwedItemLineTest, ParsesEveryFormAndWritesFailedLinesBack)
{
    const SCase cases[] = {
        {false, "/data/a:b:13\n", true, EKind::Item, "/data/a:b", false, 13},
        {false, "/data/x.dat:5\r\n", true, EKind::Item, "/data/x.dat", false, 5},
        {false, "/data/dir/:13", true, EKind::Item, "/data/dir", true, 13},
        {false, "%CONTAINERACL%/data/acl:1", true, EKind::AclOnly, "/data/acl", false, 1},
        {false, "/data/new\\x0aline\\x7cx\\\\y:2", true, EKind::Item, "/data/new\nline|x\\y", false, 2},
        {false, "/d/::5", true, EKind::Item, "/d/:", false, 5},
        {false, "\t/data/ignored:5", true, EKind::Skip, "", false, 0},
        {false, "", true, EKind::Skip, "", false, 0},
        {false, "/data/no-error", false, EKind::Item, "", false, 0},
        {false, "/data/x:five", false, EKind::Item, "", false, 0},
        {false, "relative:5", false, EKind::Item, "", false, 0},
        {true, "??d/data/gone", true, EKind::Deleted, "/data/gone", false, 0},
        {true, "??D/data/gone dir", true, EKind::Deleted, "/data/gone dir", true, 0},
        {true, "%EXTENT%/data/big:1/file/3:0:0:0:1048576:4096", true, EKind::Extent, "/data/big:1/file", false, 0},
        {true, "%CONTAINER%/data/c:1:2:3:4:5", true, EKind::Container, "/data/c", false, 0},
        {true, "%CONTAINER%/data/c:7", false, EKind::Container, "", false, 0},
        {true, "# 12 2049 1700000000 4 /data/hard link", true, EKind::HardLink, "/data/hard link", false, 0},
        {true, "# /", true, EKind::Skip, "", false, 0},
        {true, "# 12 2049", false, EKind::HardLink, "", false, 0},
        {true, "///device/dev/sdb", true, EKind::RawDevice, "/dev/sdb", false, 0},
        {true, "/data/pipe\\x7cname|42", true, EKind::Item, "/data/pipe|name", false, 0},
        {true, "/data/folder/", true, EKind::Item, "/data/folder", true, 0},
        {true, "/", true, EKind::Item, "/", false, 0},
        {true, "\t??d/data/x", true, EKind::Skip, "", false, 0},
        {true, "/bad\\q", false, EKind::Item, "", false, 0},
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
        if (!c.commit && c.kind == EKind::Item && !c.folder) {  // written back, read the same
            COwedItemLine again;
            ASSERT_TRUE(COwedItemLine::ParseFailedLine(COwedItemLine::FormatFailedLine(parsed.path, c.error), again).IsSuccess());
            EXPECT_EQ(std::tie(again.path, again.error), std::tie(parsed.path, parsed.error)) << c.line;
        }
    }
}

}  // namespace
