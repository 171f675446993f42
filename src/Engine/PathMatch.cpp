#include "Engine/PathMatch.h"

TPathMatch::TPathMatch(char delimiter, char escape, bool caseInsensitive)
    : m_delimiter(delimiter), m_escape(escape), m_caseInsensitive(caseInsensitive)
{
}

unsigned char TPathMatch::Fold(unsigned char c) const
{
    if (m_caseInsensitive && c >= 'A' && c <= 'Z')
        return static_cast<unsigned char>(c + ('a' - 'A'));
    return c;
}

CKxError TPathMatch::Init(std::string_view pattern)
{
    m_valid = false;
    m_hasWildcards = false;
    m_pattern.assign(pattern);
    m_literalPrefix.clear();
    m_tokens.clear();
    m_classes.clear();

    const size_t n = pattern.size();
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(pattern[i]);
        if (c == static_cast<unsigned char>(m_escape)) {
            if (i + 1 >= n)
                return CKxError(KxCode::InvalidParameter, "Pattern ends with an escape character: " + m_pattern);
            const unsigned char next = static_cast<unsigned char>(pattern[++i]);
            m_tokens.push_back({EToken::Literal, Fold(next), 0});
            if (!m_hasWildcards)
                m_literalPrefix.push_back(static_cast<char>(next));
            continue;
        }
        if (c == '*') {
            if (i + 1 < n && pattern[i + 1] == '*') {
                while (i + 1 < n && pattern[i + 1] == '*')
                    ++i;
                if (i + 1 < n && pattern[i + 1] == m_delimiter) {
                    ++i;
                    m_tokens.push_back({EToken::GlobStarDelimiter, 0, 0});
                } else {
                    m_tokens.push_back({EToken::GlobStar, 0, 0});
                }
            } else {
                m_tokens.push_back({EToken::Star, 0, 0});
            }
            m_hasWildcards = true;
            continue;
        }
        if (c == '?') {
            m_tokens.push_back({EToken::AnyChar, 0, 0});
            m_hasWildcards = true;
            continue;
        }
        if (c == '[') {
            CharClass cls{{0, 0, 0, 0}};
            size_t j = i + 1;
            bool negate = false;
            if (j < n && (pattern[j] == '!' || pattern[j] == '^')) {
                negate = true;
                ++j;
            }
            bool first = true;
            bool closed = false;
            auto add = [&](unsigned char from, unsigned char to) {
                for (unsigned v = from; v <= to; ++v) {
                    cls.bits[v >> 6] |= std::uint64_t(1) << (v & 63);
                    if (m_caseInsensitive && v >= 'A' && v <= 'Z')
                        cls.bits[(v + 32) >> 6] |= std::uint64_t(1) << ((v + 32) & 63);
                    if (m_caseInsensitive && v >= 'a' && v <= 'z')
                        cls.bits[(v - 32) >> 6] |= std::uint64_t(1) << ((v - 32) & 63);
                }
            };
            while (j < n) {
                unsigned char a = static_cast<unsigned char>(pattern[j]);
                if (a == ']' && !first) {
                    closed = true;
                    break;
                }
                first = false;
                if (a == static_cast<unsigned char>(m_escape)) {
                    if (j + 1 >= n)
                        break;
                    a = static_cast<unsigned char>(pattern[++j]);
                }
                unsigned char b = a;
                if (j + 2 < n && pattern[j + 1] == '-' && pattern[j + 2] != ']') {
                    j += 2;
                    b = static_cast<unsigned char>(pattern[j]);
                    if (b == static_cast<unsigned char>(m_escape)) {
                        if (j + 1 >= n)
                            break;
                        b = static_cast<unsigned char>(pattern[++j]);
                    }
                }
                if (a <= b)
                    add(a, b);
                ++j;
            }
            if (!closed)
                return CKxError(KxCode::InvalidParameter, "Pattern has an unclosed [ : " + m_pattern);
            if (negate)
                for (auto& word : cls.bits)
                    word = ~word;
            m_classes.push_back(cls);
            m_tokens.push_back({EToken::Class, 0, static_cast<std::uint32_t>(m_classes.size() - 1)});
            m_hasWildcards = true;
            i = j;
            continue;
        }
        m_tokens.push_back({EToken::Literal, Fold(c), 0});
        if (!m_hasWildcards)
            m_literalPrefix.push_back(static_cast<char>(c));
    }
    m_valid = true;
    return CKxError::Success();
}

void TPathMatch::Close(std::vector<std::uint8_t>& states) const
{
    // Only the star tokens match nothing, and they lead forward: one pass in order suffices.
    for (size_t s = 0; s < m_tokens.size(); ++s) {
        if (!states[s])
            continue;
        const EToken kind = m_tokens[s].kind;
        if (kind == EToken::Star || kind == EToken::GlobStar || kind == EToken::GlobStarDelimiter)
            states[s + 1] = 1;
    }
}

void TPathMatch::Step(const std::vector<std::uint8_t>& from, unsigned char c, std::vector<std::uint8_t>& to) const
{
    std::fill(to.begin(), to.end(), 0);
    const bool isDelimiter = c == static_cast<unsigned char>(m_delimiter);
    for (size_t s = 0; s < m_tokens.size(); ++s) {
        if (!from[s])
            continue;
        const Token& token = m_tokens[s];
        switch (token.kind) {
        case EToken::Literal:
            if (Fold(c) == token.literal)
                to[s + 1] = 1;
            break;
        case EToken::AnyChar:
            if (!isDelimiter)
                to[s + 1] = 1;
            break;
        case EToken::Class:
            if (!isDelimiter && m_classes[token.classIndex].Has(c))
                to[s + 1] = 1;
            break;
        case EToken::Star:
            if (!isDelimiter)
                to[s] = 1;
            break;
        case EToken::GlobStar:
            to[s] = 1;
            break;
        case EToken::GlobStarDelimiter:
            to[s] = 1;
            if (isDelimiter)
                to[s + 1] = 1;
            break;
        }
    }
    Close(to);
}

bool TPathMatch::Run(std::string_view text, std::vector<std::uint8_t>& states) const
{
    // Scratch per thread: matching runs per item and must not allocate once warm.
    thread_local std::vector<std::uint8_t> scratch;
    states.assign(m_tokens.size() + 1, 0);
    scratch.assign(m_tokens.size() + 1, 0);
    states[0] = 1;
    Close(states);
    for (unsigned char c : text) {
        Step(states, c, scratch);
        states.swap(scratch);
        bool any = false;
        for (std::uint8_t s : states)
            if (s) {
                any = true;
                break;
            }
        if (!any)
            return false;
    }
    return true;
}

bool TPathMatch::Match(std::string_view path) const
{
    if (!m_valid)
        return false;
    // Plain patterns compare directly.
    if (!m_hasWildcards && !m_caseInsensitive)
        return path == m_literalPrefix;
    thread_local std::vector<std::uint8_t> states;
    if (!Run(path, states))
        return false;
    return states[m_tokens.size()] != 0;
}

bool TPathMatch::CouldMatchBelow(std::string_view folder) const
{
    if (!m_valid)
        return false;
    thread_local std::vector<std::uint8_t> states;
    thread_local std::vector<std::uint8_t> scratch;
    if (!Run(folder, states))
        return false;
    if (folder.empty() || folder.back() != m_delimiter) {
        scratch.assign(states.size(), 0);
        Step(states, static_cast<unsigned char>(m_delimiter), scratch);
        states.swap(scratch);
    }
    // Any state short of the end can still be completed by some longer path.
    for (size_t s = 0; s < m_tokens.size(); ++s)
        if (states[s])
            return true;
    return false;
}

std::string TPathMatch::GetFixedPrefix() const
{
    if (!m_hasWildcards)
        return m_literalPrefix;
    size_t cut = m_literalPrefix.rfind(m_delimiter);
    if (cut == std::string::npos)
        return std::string();
    return m_literalPrefix.substr(0, cut + 1);
}
