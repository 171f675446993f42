#pragma once
// CFilterTerm: one filter, exception or content pattern as the walk applies it.
//
// On top of TPathMatch: a trailing "/" makes the term apply to folders only ("/tmp/" matches
// the folder /tmp, not a file named /tmp); a term without any "/" matches an item's name at
// any depth (as if written "/**/name"); a trailing "/" on the path being tested is ignored.
// A term that matches a folder covers everything below it; the walk and CFilterSet apply that.
//
// Thread: LoadRaw once; the rest is const and safe from every thread.
#include "Engine/PathMatch.h"

#include <string>
#include <string_view>

class CFilterTerm {
public:
    CFilterTerm() = default;

    // Compiles the entry; error 87 when it is empty or malformed.
    [[nodiscard]] CKxError LoadRaw(std::string_view entry, bool caseInsensitive = false);
    // True when the entry holds one of the wildcard characters *, ? or [.
    static bool IsWildcardItem(std::string_view entry);

    const std::string& GetEntry() const { return m_entry; }
    bool IsFolderOnly() const { return m_folderOnly; }
    bool IsCaseInsensitive() const { return m_match.IsCaseInsensitive(); }
    bool HasWildcards() const { return m_match.HasWildcards(); }
    bool IsValid() const { return m_match.IsValid(); }

    // Whether the path itself matches (not counting its folders).
    bool Matches(std::string_view path, bool isFolder) const;
    // Whether some path below the folder could match.
    bool CouldMatchBelow(std::string_view folder) const;
    // The fixed start of the term: the folder before its first wildcard ("/data/logs/" for
    // "/data/logs/*.txt"), the whole path for a plain term, "" for a name-only term.
    std::string GetFilterPrefix() const;

private:
    std::string m_entry;
    TPathMatch m_match;
    bool m_folderOnly = false;
    bool m_nameOnly = false;
};
