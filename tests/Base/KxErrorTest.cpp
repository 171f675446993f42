#include "Base/KxError.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {
CKxError Inner() { return CKxError(87, "Failed to determine scan job type"); }
CKxError Outer()
{
    KX_RETURN_IF_FAILED(Inner(), "Failed to configure scan job; terminating, ScanJob=%s", "ScanJob");
    return CKxError::Success();
}
}  // namespace

TEST(KxError, SuccessCarriesNothing)
{
    CKxError ok;
    ok.Push("ignored");  // pushing onto success must not invent a failure
    EXPECT_TRUE(ok.IsSuccess());
    EXPECT_EQ(sizeof(CKxError), sizeof(void*));
}

TEST(KxError, StackKeepsEveryLevelInOrderWithLocations)
{
    CKxError e = Outer();
    ASSERT_TRUE(e.IsError());
    EXPECT_EQ(e.Code(), 87);
    ASSERT_EQ(e.Frames().size(), 2u);
    EXPECT_EQ(e.Message(), "Failed to determine scan job type");
    EXPECT_EQ(e.Frames()[1].message, "Failed to configure scan job; terminating, ScanJob=ScanJob");
    EXPECT_NE(std::string(e.Frames()[0].where.function).find("Inner"), std::string::npos);
    EXPECT_NE(std::string(e.Frames()[1].where.function).find("Outer"), std::string::npos);
    std::string text = e.AsString();
    EXPECT_LT(text.find("determine"), text.find("configure"));
    EXPECT_NE(text.find("KxErrorTest.cpp:"), std::string::npos);
    // The operator's line: outermost first, no locations, no line breaks.
    e.Push("two\nlines");
    EXPECT_EQ(e.OneLine(), "two lines: Failed to configure scan job; terminating, ScanJob=ScanJob: Failed to determine "
                           "scan job type (code 87)");
}

TEST(KxError, CopiesAreIndependentErrnoNamesItsCauseAndLongTextIsWhole)
{
    CKxError a = CKxError::FromErrno(ENOENT, "open failed for [/x]");
    CKxError b = a;
    b.Push("second");
    EXPECT_EQ(a.Frames().size(), 1u);
    EXPECT_EQ(b.Frames().size(), 2u);
    EXPECT_NE(a.Message().find("open failed for [/x]: No such file"), std::string::npos) << a.Message();
    a = CKxError::Success();
    EXPECT_EQ(b.Code(), ENOENT);
    EXPECT_EQ(KxFormat("[%s]", std::string(1000, 'x').c_str()).size(), 1002u);
}
