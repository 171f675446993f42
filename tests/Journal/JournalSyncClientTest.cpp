// The sync client against a stand-in daemon: answers, silence, absence.
#include <gtest/gtest.h>

#include <thread>
#include <tuple>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Journal/JournalSyncClient.h"
#include "Base/ScratchFolderTest.h"

namespace {

class JournalSyncClientTest : public ScratchFolderTest {
protected:
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

TEST_F(JournalSyncClientTest, AnswersOfTheDaemon)
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
