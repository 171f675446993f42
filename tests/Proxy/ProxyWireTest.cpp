// The proxy wire: what the client sends arrives whole and in order however the socket splits it,
// and whatever a client sends that the format cannot hold is an error, never an item.
#include "Proxy/ProxyWireReader.h"
#include "Proxy/ProxyWireWriter.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <thread>

namespace {

std::string Record(char kind, std::string_view path, std::uint64_t size = 0)
{
    std::string out;
    CProxyWireWriter::AppendItem(out, kind, path, size);
    return out;
}

TEST(ProxyWireTest, FramesSurviveAnySplitAndBadHeadersStick)
{
    const std::string stream = CProxyWireWriter::Frame(ProxyWire::kHello, "token") +
                               CProxyWireWriter::Frame(ProxyWire::kMessage, "") +
                               CProxyWireWriter::Frame(ProxyWire::kItems, Record('f', "/a", 7));
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{3}, stream.size()}) {
        CProxyWireReader reader;
        std::vector<std::pair<std::uint8_t, std::string>> frames;
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            reader.Feed(stream.data() + at, std::min(chunk, stream.size() - at));
            SProxyFrame frame;
            for (bool got = true; got;) {
                ASSERT_TRUE(reader.Next(frame, got).IsSuccess());
                if (got)
                    frames.emplace_back(frame.type, std::string(frame.payload));
            }
        }
        ASSERT_EQ(frames.size(), 3u) << chunk;
        EXPECT_EQ(frames[0], std::make_pair(std::uint8_t{'H'}, std::string("token")));
        EXPECT_EQ(frames[1].second, "");
        EXPECT_EQ(reader.Pending(), 0u);
    }
    const std::string tooLong = std::string("I") + std::string("\x01\x00\x10\x00", 4);  // 1 MiB + 1
    for (const std::string& bad : {std::string("Z\0\0\0\0", 5), tooLong}) {
        CProxyWireReader reader;
        reader.Feed(bad.data(), bad.size());
        SProxyFrame frame;
        bool got = false;
        EXPECT_EQ(reader.Next(frame, got).Code(), KxCode::InvalidData);
        EXPECT_EQ(reader.Next(frame, got).Code(), KxCode::InvalidData) << "a broken stream stays broken";
    }
}

TEST(ProxyWireTest, ItemRecordsAreCheckedAgainstTheirFrame)
{
    const struct {
        const char* what;
        std::string records;
        bool valid;
    } cases[] = {
        {"folder and file", Record('d', "/") + Record('f', "/x|\n\xff", 1ull << 40), true},
        {"header cut short", Record('f', "/a").substr(0, 12), false},
        {"path runs past the frame", Record('f', "/abc").substr(0, 15), false},
        {"relative path", Record('f', "a/b"), false},
        {"empty path", Record('f', ""), false},
        {"NUL in the path", Record('f', std::string("/a\0b", 4)), false},
        {"trailing slash", Record('d', "/a/"), false},
        {"unknown kind", Record('l', "/a"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string_view rest = c.records;
        CKxError error;
        std::vector<SProxyItem> items;
        while (!rest.empty() && error.IsSuccess()) {
            SProxyItem item;
            error = CProxyWireReader::NextItem(rest, item);
            if (error.IsSuccess())
                items.push_back(item);
        }
        EXPECT_EQ(error.IsSuccess(), c.valid) << error.AsString();
        if (c.valid) {
            ASSERT_EQ(items.size(), 2u);
            EXPECT_EQ(items[0].kind, 'd');
            EXPECT_EQ(items[1].path, "/x|\n\xff");
            EXPECT_EQ(items[1].size, 1ull << 40);
        }
    }
}

TEST(ProxyWireTest, ConfigurationAndDonePayloads)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    ASSERT_TRUE(CProxyWireReader::ParseConfiguration(std::string("a\0" "1\0b\0\0", 7), pairs).IsSuccess());
    EXPECT_EQ(pairs, (std::vector<std::pair<std::string, std::string>>{{"a", "1"}, {"b", ""}}));
    EXPECT_TRUE(CProxyWireReader::ParseConfiguration(std::string("a\0" "1", 3), pairs).IsError());
    std::uint64_t items = 0, failures = 0;
    std::string done;
    CProxyWireWriter::AppendLittleEndian(done, 100000, 8);
    CProxyWireWriter::AppendLittleEndian(done, 3, 8);
    ASSERT_TRUE(CProxyWireReader::ParseDone(done, items, failures).IsSuccess());
    EXPECT_EQ(std::make_pair(items, failures), std::make_pair(std::uint64_t{100000}, std::uint64_t{3}));
    EXPECT_TRUE(CProxyWireReader::ParseDone(done.substr(1), items, failures).IsError());
}

// Many items through a real socket: gathered into frames within the limit, all in order.
TEST(ProxyWireTest, WriterGathersItemsInOrder)
{
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    constexpr int kItems = 20000;
    std::thread client([fd = fds[0]] {
        CProxyWireWriter writer(fd);
        for (int i = 0; i < kItems; ++i)
            EXPECT_TRUE(writer.AddItem('f', "/data/file" + std::to_string(i), i).IsSuccess());
        EXPECT_TRUE(writer.Send(ProxyWire::kDone, {}).IsSuccess());
        ::close(fd);
    });
    CProxyWireReader reader;
    int next = 0, frames = 0;
    bool done = false;
    char buffer[8192];
    while (!done) {
        const ssize_t got = ::read(fds[1], buffer, sizeof buffer);
        ASSERT_GT(got, 0);
        reader.Feed(buffer, static_cast<std::size_t>(got));
        SProxyFrame frame;
        for (bool whole = true; whole && !done;) {
            ASSERT_TRUE(reader.Next(frame, whole).IsSuccess());
            if (!whole)
                break;
            done = frame.type == ProxyWire::kDone;
            frames += frame.type == ProxyWire::kItems;
            for (std::string_view rest = frame.type == ProxyWire::kItems ? frame.payload : ""; !rest.empty(); ++next) {
                SProxyItem item;
                ASSERT_TRUE(CProxyWireReader::NextItem(rest, item).IsSuccess());
                ASSERT_EQ(item.path, "/data/file" + std::to_string(next));
            }
        }
    }
    client.join();
    ::close(fds[1]);
    EXPECT_EQ(next, kItems);
    EXPECT_GT(frames, 5);
}

}  // namespace
