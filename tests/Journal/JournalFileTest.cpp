// The journal file: what the daemon writes reads back the same, and every kind of damage is
// refused with the file and the line.
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Journal/JournalReader.h"
#include "Journal/JournalWriter.h"
#include "Base/ScratchFolderTest.h"

namespace {

const std::string kRun = "0123456789abcdef";

class JournalFileTest : public ScratchFolderTest {
protected:
    std::string JournalAt() const { return FXPath::Append(m_dir, "ChangeJournal.jnl"); }
    void WriteJournal(const std::string& text) { ASSERT_TRUE(FXFile::WriteFileAtomically(JournalAt(), text).IsSuccess()); }
};

TEST_F(JournalFileTest, WrittenRecordsReadBackInPathOrder)
{
    CJournalWriter writer;
    ASSERT_TRUE(writer.Start(m_dir, kRun, 1, 1700000000).IsSuccess());
    EXPECT_EQ(std::filesystem::status(JournalAt()).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const uint64_t afterHeader = writer.Size();
    const std::string odd = std::string("/d/new\nline|bar\\x\x01\x7f\xff\xfe", 20);
    for (const std::string& path : std::vector<std::string>{"/d/b", "/d", "/d/a b", "/", "/d/b", odd})
        writer.AddFolder(path);
    writer.AddLink("/d/b/linked");
    ASSERT_TRUE(writer.Flush().IsSuccess());
    ASSERT_TRUE(writer.Sync().IsSuccess());
    const uint64_t firstSync = writer.Size();
    writer.AddFolder("/e");
    writer.AddBroken("event queue\noverflowed");
    writer.AddFolder("/f");
    writer.AddBroken("second cause");
    writer.AddEnd();
    ASSERT_TRUE(writer.Flush().IsSuccess());

    SJournalSpan span;
    ASSERT_TRUE(CJournalReader::Read(JournalAt(), 0, firstSync, span).IsSuccess());
    EXPECT_EQ(std::tie(span.runId, span.sequence, span.completeSince, span.headerEnd),
              std::make_tuple(kRun, uint64_t{1}, int64_t{1700000000}, afterHeader));
    EXPECT_EQ(span.folders, (std::vector<std::string>{"/", "/d", "/d/a b", "/d/b", odd}));
    EXPECT_EQ(span.links, (std::vector<std::string>{"/d/b/linked"}));
    EXPECT_FALSE(span.broken || span.ended);

    ASSERT_TRUE(CJournalReader::Read(JournalAt(), firstSync, CJournalReader::kToEnd, span).IsSuccess());
    EXPECT_EQ(span.folders, (std::vector<std::string>{"/e", "/f"}));
    EXPECT_TRUE(span.broken && span.ended);
    EXPECT_EQ(span.brokenCause, "event queue overflowed");

    ASSERT_TRUE(writer.Rotate(1700000500).IsSuccess());
    ASSERT_TRUE(CJournalReader::Read(JournalAt(), 0, CJournalReader::kToEnd, span).IsSuccess());
    EXPECT_EQ(std::tie(span.sequence, span.completeSince), std::make_tuple(uint64_t{2}, int64_t{1700000500}));
    EXPECT_TRUE(span.folders.empty() && !span.broken && !span.ended);
    std::vector<std::string> left;
    ASSERT_TRUE(FXFile::ListMatchingFiles(m_dir, "*", left).IsSuccess());
    EXPECT_EQ(left, (std::vector<std::string>{"ChangeJournal.jnl"}));
}

TEST_F(JournalFileTest, DamageIsRefusedNamingTheLine)
{
    const std::string header = "fsjournal 1 " + kRun + " 3\ncomplete-since 5\n";
    const struct {
        std::string text;
        const char* where;  // expected in the message
    } cases[] = {
        {"", "at line 1: no header"},
        {"fsjournal 2 " + kRun + " 3\ncomplete-since 5\n", "at line 1: unknown journal version 2"},
        {"fsjournal 1 0123456789ABCDEF 3\ncomplete-since 5\n", "at line 1: damaged header"},
        {"fsjournal 1 " + kRun + " 0\ncomplete-since 5\n", "at line 1: damaged header"},
        {"fsjournal 1 " + kRun + " 03\ncomplete-since 5\n", "at line 1: damaged header"},
        {"d /a\n" + header, "at line 1: not a change journal"},
        {"fsjournal 1 " + kRun + " 3\nd /a\n", "at line 2: the second line"},
        {"fsjournal 1 " + kRun + " 3\n", "at line 2: no \"complete-since\""},
        {header + "d /a\nd /b", "at line 4: the last line has no line end"},
        {header + "d /a\nfsjournal 1 " + kRun + " 4\n", "at line 4: misplaced header line"},
        {header + "complete-since 9\n", "at line 3: misplaced header line"},
        {header + "x /a\n", "at line 3: unknown record"},
        {header + "d\n", "at line 3: not a canonical"},
        {header + "d a/b\n", "at line 3: not a canonical"},
        {header + "d /a/\n", "at line 3: not a canonical"},
        {header + "d /a//b\n", "at line 3: not a canonical"},
        {header + "l /a/../b\n", "at line 3: not a canonical"},
        {header + "d /a\\x00b\n", "at line 3: badly escaped"},
        {header + "d /a\\x41\n", "at line 3: badly escaped"},
        {header + "d /a|b\n", "at line 3: badly escaped"},
        {header + "d /a\tb\n", "at line 3: raw control byte"},
        {header + "broken\n", "at line 3: unknown record"},
        {header + "end now\n", "at line 3: unknown record"},
    };
    for (const auto& c : cases) {
        WriteJournal(c.text);
        SJournalSpan span;
        CKxError e = CJournalReader::Read(JournalAt(), 0, CJournalReader::kToEnd, span);
        EXPECT_EQ(e.Code(), KxCode::InvalidData) << c.text;
        EXPECT_NE(e.Message().find(JournalAt()), std::string::npos) << e.Message();
        EXPECT_NE(e.Message().find(c.where), std::string::npos) << c.text << " -> " << e.Message();
    }
}

TEST_F(JournalFileTest, SpanBoundsMustBeLineEdgesAfterTheHeader)
{
    const std::string header = "fsjournal 1 " + kRun + " 1\ncomplete-since 5\n";
    WriteJournal(header + "d /a\nd /b\n");
    const uint64_t h = header.size(), size = h + 10;
    const struct {
        uint64_t from, to;
        std::vector<std::string> folders;  // empty with `fails`
        bool fails;
    } cases[] = {
        {0, CJournalReader::kToEnd, {"/a", "/b"}, false},
        {h, h, {}, false},
        {h + 5, size, {"/b"}, false},
        {size, size, {}, false},
        {h + 2, size, {}, true},   // not a line start
        {h, h + 3, {}, true},      // not a line end
        {h - 1, size, {}, true},   // inside the header
        {h, size + 5, {}, true},   // beyond the end: a replaced journal
        {h + 5, h, {}, true},      // reversed
    };
    for (const auto& c : cases) {
        SJournalSpan span;
        CKxError e = CJournalReader::Read(JournalAt(), c.from, c.to, span);
        EXPECT_EQ(e.IsError(), c.fails) << c.from << ".." << c.to << ": " << e.AsString();
        if (!c.fails) {
            EXPECT_EQ(span.folders, c.folders) << c.from << ".." << c.to;
        }
    }
    SJournalSpan span;
    EXPECT_EQ(CJournalReader::Read(FXPath::Append(m_dir, "absent"), 0, CJournalReader::kToEnd, span).Code(), ENOENT);
}

}  // namespace
