#pragma once
// CCommandLineArguments: the scan process's command line.
//
// Parsing (argv[0], the program, is skipped):
// - A token starting with '-' followed by at least one character is an option; its name is
//   the token without that one '-' ("-vm" is "vm", "--x" is "-x"). A token that is a
//   negative number ("-5", "-0x10" is not one) is never an option.
// - An option takes the next token as its value when that token does not start with '-', or
//   when it is a negative number ("-j -5" gives "j" the value "-5"). Otherwise the option has
//   no value ("-f -t 1": "f" has none).
// - A token that is neither an option nor an option's value is positional ("-", a lone
//   negative number after a value, anything after a valued option's value).
// - An option given twice: the last occurrence wins (value or no value); it counts as one
//   option.
// Every option read through GetOption is marked used; GetUnusedCount counts the distinct
// options never read plus the positional tokens never read through GetPositional.
//
// Ownership: shared (CCommandLineArgumentsPtr). Thread: any thread (the used marks are
// guarded by m_usedLock).
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

class CCommandLineArguments {
public:
    CCommandLineArguments(int argc, const char* const* argv);
    // Tokens without the program name (tests and tools that build a command line).
    explicit CCommandLineArguments(const std::vector<std::string>& tokens);

    // True when the option is present (with or without a value).
    bool GetOption(const std::string& name) const;
    // True when the option is present with a value; `value` is untouched otherwise.
    bool GetOption(const std::string& name, std::string& value) const;
    int GetUnusedCount() const;
    // Names of the options never read, sorted (for the "unused arguments" log line).
    std::vector<std::string> GetUnusedOptions() const;

    size_t GetPositionalCount() const { return m_positionals.size(); }
    // The i-th positional token; "" past the end.
    std::string GetPositional(size_t index) const;

    // The tokens as given, joined by blanks (for logs).
    std::string AsString() const;

    // Every option with its value (none for a bare option), and every positional token, for a
    // check of the whole command line; reading them marks nothing used.
    using OptionMap = std::map<std::string, std::optional<std::string>>;
    const OptionMap& Options() const { return m_options; }
    const std::vector<std::string>& Positionals() const { return m_positionals; }

    static bool IsNegativeNumber(const std::string& token);

private:
    void Parse(const std::vector<std::string>& tokens);

    std::vector<std::string> m_tokens;
    OptionMap m_options;
    std::vector<std::string> m_positionals;
    mutable std::mutex m_usedLock;
    mutable std::set<std::string> m_usedOptions;
    mutable std::set<size_t> m_usedPositionals;
};

using CCommandLineArgumentsPtr = std::shared_ptr<CCommandLineArguments>;
