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

// Case folding is ASCII only; the delimiter and the escape can be other characters.
TEST(PathMatch, CaseFoldingDelimiterAndEscapeTable)
{
    const struct {
        char delimiter, escape;
        bool fold;
        MatchCase match;
    } cases[] = {
        {'/', '\\', true, {"/Data/*.LOG", "/data/x.log", true}}, {'/', '\\', true, {"/Data/*.LOG", "/DATA/X.Log", true}},
        {'/', '\\', true, {"/[a-c]x", "/Bx", true}},
        {'/', '\\', true, {"/\xc3\x84", "/\xc3\xa4", false}},  // upper-case A with diaeresis stays as it is
        {'/', '\\', false, {"/Data/*.LOG", "/data/x.log", false}},
        {'\\', '/', true, {"*\\**\\*.TMP", "C:\\users\\x\\a.tmp", true}}, {'\\', '/', true, {"*\\**\\*.TMP", "C:\\a.tmp", true}},
        {'\\', '/', false, {"a/*", "a*", true}}, {'\\', '/', false, {"a/*", "ab", false}},
    };
    for (const auto& c : cases) {
        TPathMatch match(c.delimiter, c.escape, c.fold);
        ASSERT_TRUE(match.Init(c.match.pattern).IsSuccess()) << c.match.pattern;
        EXPECT_EQ(match.Match(c.match.path), c.match.expected) << c.match.pattern << " " << c.match.path;
    }
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

// A trailing '/' names folders only; a term without a '/' names entries at any depth.
TEST(FilterTerm, FolderOnlyAndNameOnlyForms)
{
    const struct {
        const char* raw;
        const char* path;
        bool folder, matches;
    } cases[] = {
        {"/data/tmp/", "/data/tmp", true, true}, {"/data/tmp/", "/data/tmp/", true, true},
        {"/data/tmp/", "/data/tmp", false, false}, {"*.o", "/src/deep/x.o", false, true}, {"*.o", "x.o", false, true},
        {"*.o", "/src/x.o/y", false, false}, {"core", "/var/crash/core", false, true},
        {"core", "/var/crash/core.1", false, false}, {"/", "/", true, true}, {"/", "/a", true, false},
    };
    for (const auto& c : cases) {
        CFilterTerm term;
        ASSERT_TRUE(term.LoadRaw(c.raw).IsSuccess()) << c.raw;
        EXPECT_EQ(term.Matches(c.path, c.folder), c.matches) << c.raw << " " << c.path;
    }
    CFilterTerm folderOnly, name, bad;
    ASSERT_TRUE(folderOnly.LoadRaw("/data/tmp/").IsSuccess() && name.LoadRaw("*.o").IsSuccess());
    EXPECT_EQ(folderOnly.GetFilterPrefix(), "/data/tmp");
    EXPECT_EQ(name.GetFilterPrefix(), "");
    EXPECT_TRUE(name.CouldMatchBelow("/anything"));
    EXPECT_EQ(bad.LoadRaw("").Code(), KxCode::InvalidParameter);
    EXPECT_EQ(bad.LoadRaw("/[x").Code(), KxCode::InvalidParameter);
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
