#include "Base/FileNameEscaping.h"

#include <gtest/gtest.h>

#include <string>

namespace {
std::string Decode(const std::string& escaped)
{
    std::string out;
    CKxError e = unescapeFileName(escaped, out);
    EXPECT_TRUE(e.IsSuccess()) << e.AsString();
    return out;
}

bool Rejected(std::string_view escaped)
{
    std::string out;
    CKxError e = unescapeFileName(escaped, out);
    return e.IsError() && e.Code() == KxCode::InvalidData;
}
}  // namespace

TEST(FileNameEscaping, RewritesExactlyBackslashControlsDeleteAndBar)
{
    EXPECT_EQ(escapeFileName("/data/plain name.txt"), "/data/plain name.txt");
    EXPECT_EQ(escapeFileName("a\\b"), "a\\\\b");
    EXPECT_EQ(escapeFileName("a|b"), "a\\x7cb");
    EXPECT_EQ(escapeFileName("line\nbreak\r"), "line\\x0abreak\\x0d");
    EXPECT_EQ(escapeFileName(std::string("\x01\x1f\x7f", 3)), "\\x01\\x1f\\x7f");
    // 0x20 and 0x80-0xFF (UTF-8 or not) stay as they are.
    EXPECT_EQ(escapeFileName(" "), " ");
    EXPECT_EQ(escapeFileName("caf\xc3\xa9 \xff\xfe"), "caf\xc3\xa9 \xff\xfe");
    EXPECT_EQ(escapeFileName(""), "");
    EXPECT_TRUE(isEscapeFree("/a/b c/\xe2\x82\xac"));
    EXPECT_FALSE(isEscapeFree("/a|b"));
    EXPECT_FALSE(isEscapeFree("/a\\b"));
}

// The escaped text never holds the separator, a newline or another control byte.
TEST(FileNameEscaping, EverySingleAndDoubleByteRoundTripsThroughTextWithoutSeparators)
{
    for (int a = 1; a < 256; ++a) {
        std::string one(1, static_cast<char>(a));
        const std::string escaped = escapeFileName(one);
        for (char c : escaped)
            EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '|') << a;
        ASSERT_EQ(Decode(escaped), one) << a;
        for (int b = 1; b < 256; ++b) {
            std::string two{static_cast<char>(a), static_cast<char>(b)};
            std::string escaped = escapeFileName(two);
            std::string back;
            ASSERT_TRUE(unescapeFileName(escaped, back).IsSuccess()) << a << "," << b;
            ASSERT_EQ(back, two) << a << "," << b;
        }
    }
}

TEST(FileNameEscaping, MalformedEscapesAreErrorsNotCrashes)
{
    // Trailing or short escapes, unknown ones, upper-case hex, NUL, bytes never escaped ('A',
    // '\' as \x5c), and raw bytes the encoder never leaves.
    for (const std::string_view bad : {"\\", "abc\\", "\\q", "\\x", "\\x7", "ab\\x7", "\\x7C", "\\xg0", "\\x00", "\\x41",
                                       "\\x5c", "a|b", "a\nb", "a\x7f"})
        EXPECT_TRUE(Rejected(bad)) << bad;
    std::string out;
    CKxError e = unescapeFileName("/ok/\\q", out);
    EXPECT_NE(e.Message().find("offset 4"), std::string::npos) << e.AsString();
}
