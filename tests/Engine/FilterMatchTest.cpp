// Wildcard matching, filter terms and filter sets: the dialect of docs/filters.md.
#include "Engine/FilterSet.h"
#include "Engine/PathMatch.h"

#include <gtest/gtest.h>

namespace {

struct MatchCase {
    const char* pattern;
    const char* path;
    bool expected;
};

TEST(PathMatch, WildcardTable)
{
    const MatchCase cases[] = {
        // literal, and the boundaries of a plain pattern
        {"/data/a", "/data/a", true}, {"/data/a", "/data/ab", false}, {"/data/a", "/data", false}, {"", "", true},
        // * stays inside one component, also when empty
        {"/data/*", "/data/x", true}, {"/data/*", "/data/", true}, {"/data/*", "/data/x/y", false},
        {"/data/*.log", "/data/.log", true}, {"/data/*.log", "/data/a.log.gz", false}, {"/*/c", "/a/b/c", false},
        // ? is exactly one character, never the delimiter
        {"/data/?", "/data/x", true}, {"/data/?", "/data/", false}, {"/data/?", "/data/xy", false},
        {"/a?b", "/a/b", false},
        // ** crosses folders; **/ may match nothing
        {"/**/x", "/x", true}, {"/**/x", "/a/b/c/x", true}, {"/**/x", "/a/b/c/xy", false},
        {"/data/**", "/data/a/b/c", true}, {"/data/**", "/data", false}, {"/data/**/*.tmp", "/data/t.tmp", true},
        {"/data/**/*.tmp", "/data/a/b/t.tmp", true}, {"/a/***/b", "/a/x/y/b", true}, {"/a**b", "/a/x/b", true},
        // classes: ranges, negation, never the delimiter, ] first is literal
        {"/f[0-9]", "/f7", true}, {"/f[0-9]", "/fa", false}, {"/f[!0-9]", "/fa", true}, {"/f[^0-9]", "/f7", false},
        {"/f[!x]", "/f/", false}, {"/f[]]", "/f]", true}, {"/f[a-]", "/f-", true},
        // escapes make wildcards literal
        {"/a\\*b", "/a*b", true}, {"/a\\*b", "/axb", false}, {"/a\\\\b", "/a\\b", true}, {"/a\\[x]", "/a[x]", true},
        // bytes are bytes: newline, pipe and invalid UTF-8 match as written and through wildcards
        {"/n\nl", "/n\nl", true}, {"/p|*", "/p|q", true}, {"/bad\xff*", "/bad\xff\xfe", true}, {"/?", "/\xc3", true},
    };
    for (const MatchCase& c : cases) {
        TPathMatch match;
        ASSERT_TRUE(match.Init(c.pattern).IsSuccess()) << c.pattern;
        EXPECT_EQ(match.Match(c.path), c.expected) << "pattern [" << c.pattern << "] path [" << c.path << "]";
    }
}

TEST(PathMatch, CaseFoldingIsAsciiOnly)
{
    TPathMatch insensitive('/', '\\', true);
    ASSERT_TRUE(insensitive.Init("/Data/*.LOG").IsSuccess());
    EXPECT_TRUE(insensitive.Match("/data/x.log"));
    EXPECT_TRUE(insensitive.Match("/DATA/X.Log"));
    TPathMatch cls('/', '\\', true);
    ASSERT_TRUE(cls.Init("/[a-c]x").IsSuccess());
    EXPECT_TRUE(cls.Match("/Bx"));
    TPathMatch plain('/', '\\', true);
    ASSERT_TRUE(plain.Init("/\xc3\x84").IsSuccess());  // upper-case A with diaeresis stays as it is
    EXPECT_FALSE(plain.Match("/\xc3\xa4"));
    TPathMatch sensitive;
    ASSERT_TRUE(sensitive.Init("/Data/*.LOG").IsSuccess());
    EXPECT_FALSE(sensitive.Match("/data/x.log"));
}

TEST(PathMatch, OtherDelimiterAndEscape)
{
    TPathMatch backslash('\\', '/', true);
    ASSERT_TRUE(backslash.Init("*\\**\\*.TMP").IsSuccess());
    EXPECT_TRUE(backslash.Match("C:\\users\\x\\a.tmp"));
    EXPECT_TRUE(backslash.Match("C:\\a.tmp"));
    TPathMatch escaped('\\', '/', false);
    ASSERT_TRUE(escaped.Init("a/*").IsSuccess());
    EXPECT_TRUE(escaped.Match("a*"));
    EXPECT_FALSE(escaped.Match("ab"));
}

TEST(PathMatch, MalformedPatternsAreErrors)
{
    for (const char* bad : {"/a[bc", "/a\\", "[", "/x[!"}) {
        TPathMatch match;
        CKxError e = match.Init(bad);
        EXPECT_EQ(e.Code(), KxCode::InvalidParameter) << bad;
        EXPECT_FALSE(match.IsValid());
        EXPECT_FALSE(match.Match(bad));
        EXPECT_FALSE(match.CouldMatchBelow("/"));
    }
}

TEST(PathMatch, CouldMatchBelowTable)
{
    const MatchCase cases[] = {
        {"/data/tmp/keep", "/data", true}, {"/data/tmp/keep", "/data/tmp", true},
        {"/data/tmp/keep", "/data/tmp/keep", false},  // only the folder itself, nothing below
        {"/data/tmp/keep", "/other", false}, {"/data/*/keep", "/data/x", true}, {"/data/*.log", "/data/sub", false},
        {"/**/keep", "/any/where", true}, {"/data/**", "/dat", false}, {"/a/b", "/", true},
    };
    for (const MatchCase& c : cases) {
        TPathMatch match;
        ASSERT_TRUE(match.Init(c.pattern).IsSuccess());
        EXPECT_EQ(match.CouldMatchBelow(c.path), c.expected) << "pattern [" << c.pattern << "] folder [" << c.path << "]";
    }
}

TEST(PathMatch, FixedPrefix)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/data/logs/*.txt", "/data/logs/"}, {"/data/lo*/x", "/data/"}, {"/data/plain", "/data/plain"},
        {"*.txt", ""}, {"/**/x", "/"}, {"/a\\*b/*", "/a*b/"}, {"/a/[xy]/z", "/a/"},
    };
    for (const auto& [pattern, prefix] : cases) {
        TPathMatch match;
        ASSERT_TRUE(match.Init(pattern).IsSuccess());
        EXPECT_EQ(match.GetFixedPrefix(), prefix) << pattern;
    }
}

TEST(FilterTerm, FolderOnlyAndNameOnlyForms)
{
    CFilterTerm folderOnly;
    ASSERT_TRUE(folderOnly.LoadRaw("/data/tmp/").IsSuccess());
    EXPECT_TRUE(folderOnly.Matches("/data/tmp", true));
    EXPECT_TRUE(folderOnly.Matches("/data/tmp/", true));
    EXPECT_FALSE(folderOnly.Matches("/data/tmp", false));
    EXPECT_EQ(folderOnly.GetFilterPrefix(), "/data/tmp");

    CFilterTerm name;
    ASSERT_TRUE(name.LoadRaw("*.o").IsSuccess());
    EXPECT_TRUE(name.Matches("/src/deep/x.o", false));
    EXPECT_TRUE(name.Matches("x.o", false));
    EXPECT_FALSE(name.Matches("/src/x.o/y", false));
    EXPECT_TRUE(name.CouldMatchBelow("/anything"));
    EXPECT_EQ(name.GetFilterPrefix(), "");

    CFilterTerm core;
    ASSERT_TRUE(core.LoadRaw("core").IsSuccess());
    EXPECT_TRUE(core.Matches("/var/crash/core", false));
    EXPECT_FALSE(core.Matches("/var/crash/core.1", false));

    CFilterTerm root;
    ASSERT_TRUE(root.LoadRaw("/").IsSuccess());
    EXPECT_TRUE(root.Matches("/", true));
    EXPECT_FALSE(root.Matches("/a", true));

    CFilterTerm empty;
    EXPECT_EQ(empty.LoadRaw("").Code(), KxCode::InvalidParameter);
    EXPECT_EQ(empty.LoadRaw("/[x").Code(), KxCode::InvalidParameter);
}

// The nearest decision wins: a filter, an exception below it, a filter below that; an exception
// beats a filter at the same level; terms without a "/" name files at any depth.
TEST(FilterSet, DecisionsTable)
{
    CFilterSet nested, sameLevel, exceptionsOnly, extensions;
    ASSERT_TRUE(nested.AddFilterItem("/data/tmp/").IsSuccess());
    ASSERT_TRUE(nested.AddFilterExceptionItem("/data/tmp/keep").IsSuccess());
    ASSERT_TRUE(nested.AddFilterItem("/data/tmp/keep/*.bak").IsSuccess());
    ASSERT_TRUE(sameLevel.AddFilterItem("/**/*.log").IsSuccess());
    ASSERT_TRUE(sameLevel.AddFilterExceptionItem("/var/log/keep.log").IsSuccess());
    ASSERT_TRUE(exceptionsOnly.AddFilterExceptionItem("/x").IsSuccess());
    ASSERT_TRUE(extensions.AddFilterItem("*.MP3", true).IsSuccess());
    ASSERT_TRUE(extensions.AddFilterItem("*.iso").IsSuccess());
    const struct {
        const CFilterSet& set;
        const char* path;
        bool folder, excluded;
    } cases[] = {
        {nested, "/data", false, false}, {nested, "/data/tmp", true, true}, {nested, "/data/tmp/sub/x", false, true},
        {nested, "/data/tmp/keep", true, false}, {nested, "/data/tmp/keep/a.txt", false, false},
        {nested, "/data/tmp/keep/a.bak", false, true},
        {nested, "/data/tmpfile", false, false},  // a sibling with a common prefix
        {nested, "/data/tmp", false, false},      // a file named like the folder filter
        {sameLevel, "/var/log/other.log", false, true}, {sameLevel, "/var/log/keep.log", false, false},
        {sameLevel, "/var/log/keep.txt", false, false}, {exceptionsOnly, "/x/y", false, false},
        {extensions, "/home/u/song.mp3", false, true}, {extensions, "/home/u/disc.iso", false, true},
        {extensions, "/home/u/disc.ISO", false, false},
        {extensions, "/home/u/a.mp3/inner.txt", false, true},  // a folder so named covers its contents
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.set.Contains(c.path, c.folder), c.excluded) << c.path << (c.folder ? "/" : "");
    EXPECT_TRUE(nested.ExceptionCouldMatchBelow("/data/tmp"));
    EXPECT_FALSE(nested.ExceptionCouldMatchBelow("/data/other"));
    EXPECT_TRUE(CFilterSet().IsEmpty());
}

}  // namespace
