#include "CollectFile/ZvFIFO.h"
#include "CollectTestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>
#include <vector>

using collecttest::ScratchFilesTest;

namespace {
std::string Pop(ZvFIFO& fifo)
{
    std::string value;
    bool popped = false;
    CKxError e = fifo.pop(value, popped);
    EXPECT_TRUE(e.IsSuccess()) << e.AsString();
    EXPECT_TRUE(popped);
    return value;
}

std::string Entry(int i) { return "/content/path/" + std::to_string(i) + std::string(i % 37, 'x'); }
}  // namespace

TEST_F(ScratchFilesTest, FifoKeepsOrderAndEveryByteAndRefusesMisuse)
{
    ZvFIFO fifo;
    EXPECT_TRUE(fifo.push("x").IsError()) << "not open";
    CKxError e = fifo.Open(m_dir + "/missing");
    ASSERT_TRUE(e.IsError());
    EXPECT_NE(e.AsString().find("missing"), std::string::npos);
    ASSERT_TRUE(fifo.Open(m_dir, "links").IsSuccess());
    EXPECT_TRUE(fifo.Open(m_dir, "links").IsError()) << "already open";
    std::string value;
    bool popped = true;
    ASSERT_TRUE(fifo.pop(value, popped).IsSuccess());
    EXPECT_FALSE(popped);

    const std::vector<std::string> values = {
        "/plain", "", std::string("nul\0inside", 10), "new\nline", std::string(3 * ZvFIFO::kBufferBytes, 'L'),
        "\xff\xfe invalid utf-8", "last"};
    for (const std::string& v : values)
        ASSERT_TRUE(fifo.push(v).IsSuccess());
    EXPECT_EQ(fifo.size(), values.size());
    for (const std::string& v : values)
        EXPECT_EQ(Pop(fifo), v);
    EXPECT_TRUE(fifo.empty());

    // Interleaved pushes and pops, in and out of the write buffer.
    int next = 0, expected = 0;
    for (int round = 0; round < 2000; ++round) {
        for (int k = 0; k < round % 5 + 1; ++k)
            ASSERT_TRUE(fifo.push(Entry(next++)).IsSuccess());
        for (int k = 0; k < round % 3 + 1 && !fifo.empty(); ++k)
            ASSERT_EQ(Pop(fifo), Entry(expected++));
    }
    while (!fifo.empty())
        ASSERT_EQ(Pop(fifo), Entry(expected++));
    EXPECT_EQ(expected, next);
    ASSERT_TRUE(fifo.pop(value, popped).IsSuccess());
    EXPECT_FALSE(popped) << "a drained queue pops nothing";
}

TEST_F(ScratchFilesTest, FifoSpillsToSegmentsAndDeletesThemWhenRead)
{
    {
        ZvFIFO fifo(256 * 1024);
        ASSERT_TRUE(fifo.Open(m_dir).IsSuccess());
        constexpr int kCount = 100000;  // about 4 MB: many segments
        for (int i = 0; i < kCount; ++i)
            ASSERT_TRUE(fifo.push(Entry(i)).IsSuccess());
        EXPECT_GE(fifo.SegmentCount(), 10u);
        const std::string firstSegment = fifo.SegmentPath(0);
        ASSERT_TRUE(FXFile::Exists(firstSegment));
        for (int i = 0; i < kCount / 2; ++i)
            ASSERT_EQ(Pop(fifo), Entry(i));
        EXPECT_FALSE(FXFile::Exists(firstSegment)) << "a finished segment is deleted";
        for (int i = kCount / 2; i < kCount; ++i)
            ASSERT_EQ(Pop(fifo), Entry(i));
        EXPECT_TRUE(fifo.empty());
        EXPECT_EQ(fifo.SegmentCount(), 1u);
        ASSERT_TRUE(fifo.push("left behind").IsSuccess());
    }
    std::vector<std::string> names;
    ASSERT_TRUE(FXFile::ListMatchingFiles(m_dir, "*", names).IsSuccess());
    EXPECT_TRUE(names.empty()) << "the queue removes its files";
}

TEST_F(ScratchFilesTest, FifoSharedByProducersAndAConsumer)
{
    ZvFIFO fifo;
    ASSERT_TRUE(fifo.Open(m_dir, "mounts").IsSuccess());
    constexpr int kProducers = 4;
    constexpr int kPerProducer = 30000;
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p)
        producers.emplace_back([&, p] {
            for (int i = 0; i < kPerProducer; ++i)
                ASSERT_TRUE(fifo.push(std::to_string(p) + ":" + std::to_string(i) + "\n" + std::string(i % 90, 'z')).IsSuccess());
        });
    std::map<int, int> nextOf;
    int received = 0;
    std::thread consumer([&] {
        std::string value;
        while (received < kProducers * kPerProducer) {
            bool popped = false;
            ASSERT_TRUE(fifo.pop(value, popped).IsSuccess());
            if (!popped) {
                std::this_thread::yield();
                continue;
            }
            const int producer = std::stoi(value.substr(0, value.find(':')));
            const int index = std::stoi(value.substr(value.find(':') + 1));
            ASSERT_EQ(value.size(), value.find('\n') + 1 + index % 90);
            ASSERT_EQ(index, nextOf[producer]) << "each producer's strings keep their order";
            nextOf[producer] = index + 1;
            ++received;
        }
    });
    for (auto& producer : producers)
        producer.join();
    consumer.join();
    EXPECT_EQ(received, kProducers * kPerProducer);
    EXPECT_TRUE(fifo.empty());
}
