#pragma once
// TPathMatch: a compiled wildcard pattern over whole paths (docs/filters.md has the dialect).
//
//   *      any run of characters except the delimiter
//   ?      one character except the delimiter
//   [...]  one character of the set; ranges a-z; a leading ! or ^ negates; never the delimiter
//   **     any run of characters, delimiters included; "**" followed by the delimiter also
//          matches nothing at all, so "/**/x" matches "/x" and "/a/b/x"
//   escape the next character is literal (by default the backslash)
//
// Case-insensitive patterns fold ASCII letters only; other bytes compare as they are, so
// invalid UTF-8 matches byte for byte.
//
// Thread: Init once; the matching members are const and safe from every thread.
#include "Base/KxError.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TPathMatch {
public:
    explicit TPathMatch(char delimiter = '/', char escape = '\\', bool caseInsensitive = false);

    // Compiles the pattern; error 87 for an unclosed [...] or a trailing escape character.
    [[nodiscard]] CKxError Init(std::string_view pattern);
    bool IsValid() const { return m_valid; }
    const std::string& GetPattern() const { return m_pattern; }
    bool IsCaseInsensitive() const { return m_caseInsensitive; }
    char GetDelimiter() const { return m_delimiter; }
    bool HasWildcards() const { return m_hasWildcards; }

    // Whether the whole path matches.
    bool Match(std::string_view path) const;
    // Whether some path below the folder (folder + delimiter + more) could match: the walk
    // enters an excluded folder only when an exception could re-include something in it.
    bool CouldMatchBelow(std::string_view folder) const;
    // The literal text before the first wildcard, cut back to its last delimiter (kept);
    // the whole pattern, unescaped, when it has no wildcard.
    std::string GetFixedPrefix() const;

private:
    enum class EToken : std::uint8_t { Literal, AnyChar, Class, Star, GlobStar, GlobStarDelimiter };
    struct Token {
        EToken kind;
        unsigned char literal;   // Literal
        std::uint32_t classIndex;  // Class
    };
    // A character class as a 256-bit set.
    struct CharClass {
        std::uint64_t bits[4];
        bool Has(unsigned char c) const { return (bits[c >> 6] >> (c & 63)) & 1u; }
    };

    unsigned char Fold(unsigned char c) const;
    // One step of the automaton: the states reachable from `from` over `c`.
    void Step(const std::vector<std::uint8_t>& from, unsigned char c, std::vector<std::uint8_t>& to) const;
    void Close(std::vector<std::uint8_t>& states) const;  // follows the tokens that may match nothing
    bool Run(std::string_view text, std::vector<std::uint8_t>& states) const;

    char m_delimiter;
    char m_escape;
    bool m_caseInsensitive;
    bool m_valid = false;
    bool m_hasWildcards = false;
    std::string m_pattern;
    std::string m_literalPrefix;  // unescaped literal text before the first wildcard
    std::vector<Token> m_tokens;
    std::vector<CharClass> m_classes;
};
