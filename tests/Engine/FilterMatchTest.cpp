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

TEST(FilterSet, NearestDecisionWins)
{
    CFilterSet set;
    ASSERT_TRUE(set.AddFilterItem("/data/tmp/").IsSuccess());
    ASSERT_TRUE(set.AddFilterExceptionItem("/data/tmp/keep").IsSuccess());
    ASSERT_TRUE(set.AddFilterItem("/data/tmp/keep/*.bak").IsSuccess());

    EXPECT_FALSE(set.Contains("/data"));
    EXPECT_TRUE(set.Contains("/data/tmp", true));
    EXPECT_TRUE(set.Contains("/data/tmp/x"));
    EXPECT_TRUE(set.Contains("/data/tmp/sub/x"));
    EXPECT_FALSE(set.Contains("/data/tmp/keep", true));       // re-included
    EXPECT_FALSE(set.Contains("/data/tmp/keep/a.txt"));       // and below it
    EXPECT_TRUE(set.Contains("/data/tmp/keep/a.bak"));        // excluded again deeper
    EXPECT_FALSE(set.Contains("/data/tmpfile"));               // a sibling with a common prefix
    EXPECT_FALSE(set.Contains("/data/tmp", false));           // a file named like the folder filter

    EXPECT_TRUE(set.ExceptionCouldMatchBelow("/data/tmp"));
    EXPECT_FALSE(set.ExceptionCouldMatchBelow("/data/other"));
}

TEST(FilterSet, ExceptionBeatsFilterAtTheSameLevel)
{
    CFilterSet set;
    ASSERT_TRUE(set.AddFilterItem("/**/*.log").IsSuccess());
    ASSERT_TRUE(set.AddFilterExceptionItem("/var/log/keep.log").IsSuccess());
    EXPECT_TRUE(set.Contains("/var/log/other.log"));
    EXPECT_FALSE(set.Contains("/var/log/keep.log"));
    EXPECT_FALSE(set.Contains("/var/log/keep.txt"));

    CFilterSet exceptionsOnly;
    ASSERT_TRUE(exceptionsOnly.AddFilterExceptionItem("/x").IsSuccess());
    EXPECT_FALSE(exceptionsOnly.Contains("/x/y"));
    EXPECT_TRUE(CFilterSet().IsEmpty());
}

TEST(FilterSet, ExtensionListStyleTerms)
{
    // Terms without any "/" name files at any depth, as an extension list is loaded.
    CFilterSet set;
    ASSERT_TRUE(set.AddFilterItem("*.MP3", true).IsSuccess());
    ASSERT_TRUE(set.AddFilterItem("*.iso").IsSuccess());
    EXPECT_TRUE(set.Contains("/home/u/song.mp3"));
    EXPECT_TRUE(set.Contains("/home/u/disc.iso"));
    EXPECT_FALSE(set.Contains("/home/u/disc.ISO"));
    EXPECT_TRUE(set.Contains("/home/u/a.mp3/inner.txt"));  // a folder so named covers its contents
}

}  // namespace
