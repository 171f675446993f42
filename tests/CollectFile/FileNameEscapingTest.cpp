#include "CollectFile/FileNameEscaping.h"

#include <gtest/gtest.h>

#include <random>
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

TEST(FileNameEscaping, EscapedTextNeverHoldsASeparatorOrNewline)
{
    for (int b = 1; b < 256; ++b) {
        std::string escaped = escapeFileName(std::string(1, static_cast<char>(b)));
        EXPECT_EQ(escaped.find('|'), std::string::npos) << b;
        EXPECT_EQ(escaped.find('\n'), std::string::npos) << b;
        for (char c : escaped)
            EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7F) << b;
    }
}

TEST(FileNameEscaping, EverySingleAndDoubleByteRoundTrips)
{
    for (int a = 1; a < 256; ++a) {
        std::string one(1, static_cast<char>(a));
        ASSERT_EQ(Decode(escapeFileName(one)), one) << a;
        for (int b = 1; b < 256; ++b) {
            std::string two{static_cast<char>(a), static_cast<char>(b)};
            std::string escaped = escapeFileName(two);
            std::string back;
            ASSERT_TRUE(unescapeFileName(escaped, back).IsSuccess()) << a << "," << b;
            ASSERT_EQ(back, two) << a << "," << b;
        }
    }
}

TEST(FileNameEscaping, RandomPathsRoundTripAndEscapingIsInjective)
{
    std::mt19937_64 random(20240611);
    std::string previousEscaped, previous;
    for (int i = 0; i < 20000; ++i) {
        std::string path;
        size_t length = random() % 64;
        for (size_t j = 0; j < length; ++j) {
            // Bias towards the bytes that matter: '\', 'x', '|', hex digits and controls.
            static const char interesting[] = "\\x|0a7f/\n\x7f";
            char c = random() % 3 == 0 ? interesting[random() % (sizeof interesting - 1)]
                                       : static_cast<char>(1 + random() % 255);
            path.push_back(c);
        }
        std::string escaped = escapeFileName(path);
        ASSERT_EQ(Decode(escaped), path);
        if (path != previous) {
            ASSERT_NE(escaped, previousEscaped);
        }
        previous = path;
        previousEscaped = escaped;
    }
}

TEST(FileNameEscaping, AppendAddsToWhatIsThere)
{
    std::string line = "prefix:";
    escapeFileNameAppend("a|b", line);
    EXPECT_EQ(line, "prefix:a\\x7cb");
}

TEST(FileNameEscaping, MalformedEscapesAreErrorsNotCrashes)
{
    EXPECT_TRUE(Rejected("\\"));           // trailing backslash
    EXPECT_TRUE(Rejected("abc\\"));
    EXPECT_TRUE(Rejected("\\q"));          // unknown escape
    EXPECT_TRUE(Rejected("\\x"));          // short
    EXPECT_TRUE(Rejected("\\x7"));
    EXPECT_TRUE(Rejected("ab\\x7"));
    EXPECT_TRUE(Rejected("\\x7C"));        // upper-case hex is never produced
    EXPECT_TRUE(Rejected("\\xg0"));
    EXPECT_TRUE(Rejected("\\x00"));        // NUL is not part of any path
    EXPECT_TRUE(Rejected("\\x41"));        // 'A' is never escaped
    EXPECT_TRUE(Rejected("\\x5c"));        // '\' is always "\\"
    EXPECT_TRUE(Rejected("a|b"));          // a raw separator cannot come from the encoder
    EXPECT_TRUE(Rejected("a\nb"));
    EXPECT_TRUE(Rejected(std::string_view("a\x7f", 2)));
    std::string out;
    CKxError e = unescapeFileName("/ok/\\q", out);
    EXPECT_NE(e.Message().find("offset 4"), std::string::npos) << e.AsString();
}
