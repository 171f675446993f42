#include "Base/Bag.h"

#include <gtest/gtest.h>

#include <thread>

TEST(Bag, WrongTypeOrMissingKeyIsAnErrorNotACrash)
{
    CBag bag;
    ASSERT_TRUE(bag.Write("orbundId", 7ULL).IsSuccess());
    unsigned long sameWidthOtherType = 0;  // 64-bit too, but a different type
    CKxError e = bag.Read("orbundId", sameWidthOtherType);
    EXPECT_EQ(e.Code(), KxCode::DatatypeMismatch);
    EXPECT_NE(e.Message().find("orbundId"), std::string::npos);
    bool flag = true;
    EXPECT_EQ(bag.Read("orbundid", flag).Code(), KxCode::NotFound);  // keys are exact
    EXPECT_TRUE(flag);                                                // untouched on failure
    EXPECT_EQ(bag.Get<unsigned long>("orbundId", 3UL), 3UL);
}

TEST(Bag, OverwriteChangesTypeAndCopyIsDeep)
{
    CBag bag;
    ASSERT_TRUE(bag.Write("k", true).IsSuccess());
    ASSERT_TRUE(bag.Write("k", std::string("v")).IsSuccess());
    EXPECT_EQ(bag.GetString("k"), "v");
    EXPECT_FALSE(bag.GetBool("k", false));
    CBag copy(bag);
    ASSERT_TRUE(copy.Write("k", 1).IsSuccess());
    EXPECT_EQ(bag.GetString("k"), "v");
    EXPECT_NE(bag.Dump().find("k=\"v\" (string)"), std::string::npos);
}

TEST(Bag, ConcurrentReadersAndWriter)
{
    CBag bag;
    ASSERT_TRUE(bag.Write("n", 0).IsSuccess());
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&] {
            while (!stop) {
                int v = -1;
                ASSERT_TRUE(bag.Read("n", v).IsSuccess());
                ASSERT_GE(v, 0);
            }
        });
    for (int i = 0; i < 20000; ++i) {
        ASSERT_TRUE(bag.Write("n", i).IsSuccess());
        ASSERT_TRUE(bag.Write("k" + std::to_string(i % 50), i).IsSuccess());
    }
    stop = true;
    for (auto& t : readers)
        t.join();
    EXPECT_EQ(bag.Size(), 51u);
}
