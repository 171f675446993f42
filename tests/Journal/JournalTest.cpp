// The journal file: what the daemon writes reads back the same, and every kind of damage is
// refused with the file and the line. The sync client against a stand-in daemon: answers,
// silence, absence.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <tuple>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/ScratchFolderTest.h"
#include "Journal/JournalReader.h"
#include "Journal/JournalSyncClient.h"
#include "Journal/JournalWriter.h"

namespace {

const std::string kRun = "0123456789abcdef";

class JournalTest : public ScratchFolderTest {
protected:
    std::string JournalAt() const { return FXPath::Append(m_dir, "ChangeJournal.jnl"); }
    void WriteJournal(const std::string& text) { ASSERT_TRUE(FXFile::WriteFileAtomically(JournalAt(), text).IsSuccess()); }
    // Listens on <instance>/run/fsjournald.sock; the instance folder name is padded past
    // sun_path's size when `longPath` is set.
    int Listen(bool longPath)
    {
        m_instance = longPath ? FXPath::Append(m_dir, std::string(120, 'i')) : m_dir;
        EXPECT_TRUE(FXFile::CreateDirectories(FXPath::Append(m_instance, "run")).IsSuccess());
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un sa{AF_UNIX, "fsjournald.sock"};  // bound from inside the folder: the path may be too long
        EXPECT_EQ(::chdir(FXPath::Append(m_instance, "run").c_str()), 0);
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
        EXPECT_EQ(::chdir("/"), 0);
        EXPECT_EQ(::listen(fd, 4), 0);
        return fd;
    }
    std::string m_instance;
};

TEST_F(JournalTest, WrittenRecordsReadBackInPathOrder)
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

TEST_F(JournalTest, DamageIsRefusedNamingTheLine)
{
    const std::string first = "fsjournal 1 " + kRun + " 3\n", header = first + "complete-since 5\n";
    // Each message part, and the journals that must be refused with it.
    const struct {
        const char* where;
        std::vector<std::string> texts;
    } groups[] = {
        {"at line 1: no header", {""}},
        {"at line 1: unknown journal version 2", {"fsjournal 2 " + kRun + " 3\ncomplete-since 5\n"}},
        {"at line 1: damaged header", {"fsjournal 1 0123456789ABCDEF 3\ncomplete-since 5\n",
                                       "fsjournal 1 " + kRun + " 0\ncomplete-since 5\n",
                                       "fsjournal 1 " + kRun + " 03\ncomplete-since 5\n"}},
        {"at line 1: not a change journal", {"d /a\n" + header}},
        {"at line 2: the second line", {first + "d /a\n"}},
        {"at line 2: no \"complete-since\"", {first}},
        {"at line 4: the last line has no line end", {header + "d /a\nd /b"}},
        {"at line 4: misplaced header line", {header + "d /a\n" + first}},
        {"at line 3: misplaced header line", {header + "complete-since 9\n"}},
        {"at line 3: unknown record", {header + "x /a\n", header + "broken\n", header + "end now\n"}},
        {"at line 3: not a canonical", {header + "d\n", header + "d a/b\n", header + "d /a/\n", header + "d /a//b\n",
                                        header + "l /a/../b\n"}},
        {"at line 3: badly escaped", {header + "d /a\\x00b\n", header + "d /a\\x41\n", header + "d /a|b\n"}},
        {"at line 3: raw control byte", {header + "d /a\tb\n"}},
    };
    for (const auto& c : groups)
        for (const std::string& text : c.texts) {
            WriteJournal(text);
            SJournalSpan span;
            CKxError e = CJournalReader::Read(JournalAt(), 0, CJournalReader::kToEnd, span);
            EXPECT_EQ(e.Code(), KxCode::InvalidData) << text;
            EXPECT_NE(e.Message().find(JournalAt()), std::string::npos) << e.Message();
            EXPECT_NE(e.Message().find(c.where), std::string::npos) << text << " -> " << e.Message();
        }
}

TEST_F(JournalTest, SpanBoundsMustBeLineEdgesAfterTheHeader)
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

TEST_F(JournalTest, AnswersOfTheDaemon)
{
    const struct {
        std::string answer;  // "" = close without an answer; "-" = say nothing
        SJournalSyncPoint::EState state;
        uint64_t sequence, offset;
        std::string cause;
        bool fails;
    } cases[] = {
        {"ok 0123456789abcdef 2 4096\n", SJournalSyncPoint::Ok, 2, 4096, "", false},
        {"broken 0123456789abcdef 3 44 event queue overflowed\n", SJournalSyncPoint::Broken, 3, 44,
         "event queue overflowed", false},
        {"unknown\n", SJournalSyncPoint::Unknown, 0, 0, "", false},
        {"", SJournalSyncPoint::NotRunning, 0, 0, "closed the connection without an answer", false},
        {"-", SJournalSyncPoint::NotRunning, 0, 0, "did not answer within 300 ms", false},
        {"ok 0123456789abcdef 2\n", SJournalSyncPoint::NotRunning, 0, 0, "", true},
        {"ok 0123456789abcdef 0 5\n", SJournalSyncPoint::NotRunning, 0, 0, "", true},
        {"ok 0123456789abcdef 1 5 extra\n", SJournalSyncPoint::NotRunning, 0, 0, "", true},
        {"broken 0123456789abcdef 1 5\n", SJournalSyncPoint::NotRunning, 0, 0, "", true},
        {"ok xyz 1 5\n", SJournalSyncPoint::NotRunning, 0, 0, "", true},
    };
    for (bool longPath : {false, true}) {
        const int listener = Listen(longPath);
        for (const auto& c : cases) {
            std::string request;
            std::thread daemon([&] {
                const int peer = ::accept(listener, nullptr, nullptr);
                char buffer[256];
                const ssize_t n = ::read(peer, buffer, sizeof buffer);
                request.assign(buffer, n > 0 ? static_cast<size_t>(n) : 0);
                if (c.answer == "-")
                    ::usleep(500000);
                else
                    EXPECT_EQ(::write(peer, c.answer.data(), c.answer.size()), static_cast<ssize_t>(c.answer.size()));
                ::close(peer);
            });
            SJournalSyncPoint point;
            CKxError e = CJournalSyncClient::Sync(m_instance, "/r/J|R/", 300, point);
            daemon.join();
            EXPECT_EQ(request, "sync /r/J\\x7cR\n");
            EXPECT_EQ(e.IsError(), c.fails) << c.answer << e.AsString();
            EXPECT_EQ(std::tie(point.state, point.sequence, point.offset), std::tie(c.state, c.sequence, c.offset))
                << c.answer;
            EXPECT_NE(point.cause.find(c.cause), std::string::npos) << point.cause;
        }
        ::close(listener);
        ASSERT_EQ(::unlink(CJournalSyncClient::SocketPath(m_instance).c_str()), 0);
        // Nobody listening any more.
        SJournalSyncPoint point;
        ASSERT_TRUE(CJournalSyncClient::Sync(m_instance, "/r", 300, point).IsSuccess());
        EXPECT_EQ(point.state, SJournalSyncPoint::NotRunning);
        EXPECT_NE(point.cause.find("fsjournald.sock"), std::string::npos) << point.cause;
    }
}

}  // namespace
