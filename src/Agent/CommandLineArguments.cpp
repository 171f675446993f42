#include "Agent/CommandLineArguments.h"

namespace {
bool IsOptionToken(const std::string& token)
{
    return token.size() > 1 && token[0] == '-' && !CCommandLineArguments::IsNegativeNumber(token);
}
}  // namespace

CCommandLineArguments::CCommandLineArguments(int argc, const char* const* argv)
{
    std::vector<std::string> tokens;
    for (int i = 1; i < argc && argv; ++i)
        tokens.emplace_back(argv[i] ? argv[i] : "");
    Parse(tokens);
}

CCommandLineArguments::CCommandLineArguments(const std::vector<std::string>& tokens) { Parse(tokens); }

bool CCommandLineArguments::IsNegativeNumber(const std::string& token)
{
    if (token.size() < 2 || token[0] != '-')
        return false;
    bool digits = false, point = false;
    for (size_t i = 1; i < token.size(); ++i) {
        char c = token[i];
        if (c >= '0' && c <= '9') {
            digits = true;
        } else if (c == '.' && !point && digits && i + 1 < token.size()) {
            point = true;
        } else {
            return false;
        }
    }
    return digits;
}

void CCommandLineArguments::Parse(const std::vector<std::string>& tokens)
{
    m_tokens = tokens;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const std::string& token = tokens[i];
        if (!IsOptionToken(token)) {
            m_positionals.push_back(token);
            continue;
        }
        std::optional<std::string> value;
        if (i + 1 < tokens.size()) {
            const std::string& next = tokens[i + 1];
            if (next.empty() || next[0] != '-' || IsNegativeNumber(next)) {
                value = next;
                ++i;
            }
        }
        m_options[token.substr(1)] = std::move(value);
    }
}

bool CCommandLineArguments::GetOption(const std::string& name) const
{
    auto it = m_options.find(name);
    if (it == m_options.end())
        return false;
    std::lock_guard lock(m_usedLock);
    m_usedOptions.insert(name);
    return true;
}

bool CCommandLineArguments::GetOption(const std::string& name, std::string& value) const
{
    auto it = m_options.find(name);
    if (it == m_options.end())
        return false;
    {
        std::lock_guard lock(m_usedLock);
        m_usedOptions.insert(name);
    }
    if (!it->second)
        return false;
    value = *it->second;
    return true;
}

int CCommandLineArguments::GetUnusedCount() const
{
    std::lock_guard lock(m_usedLock);
    size_t unused = m_positionals.size() - m_usedPositionals.size();
    for (const auto& [name, value] : m_options)
        if (!m_usedOptions.count(name))
            ++unused;
    return static_cast<int>(unused);
}

std::vector<std::string> CCommandLineArguments::GetUnusedOptions() const
{
    std::lock_guard lock(m_usedLock);
    std::vector<std::string> names;
    for (const auto& [name, value] : m_options)
        if (!m_usedOptions.count(name))
            names.push_back(name);
    return names;
}

std::string CCommandLineArguments::GetPositional(size_t index) const
{
    if (index >= m_positionals.size())
        return {};
    std::lock_guard lock(m_usedLock);
    m_usedPositionals.insert(index);
    return m_positionals[index];
}

std::string CCommandLineArguments::AsString() const
{
    std::string out;
    for (const std::string& token : m_tokens) {
        if (!out.empty())
            out += ' ';
        out += token;
    }
    return out;
}
