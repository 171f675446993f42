#pragma once
// COptionTable: every option a program reads and the form of its value, so that a command line
// is checked whole before the program acts on any of it. An option the table does not know, a
// stray argument, a value where the option takes none or none where it needs one, and a value
// not of the option's form are all refused the same way: code 87 and one line naming the
// option and the value. Help() renders the table as the program's option list.
//
// Ownership: a value; the names and texts point to literals. Thread: any thread.
#include <string>
#include <vector>

#include "Agent/CommandLineArguments.h"
#include "Base/KxError.h"

class COptionTable {
public:
    enum class EValue {
        None,        // a switch: present or not
        Text,        // any text
        Count,       // a non-negative decimal number (digits only)
        Integer,     // a decimal number, possibly negative
        BackupType,  // a backup type some job kind takes: 1 full, 2 incremental, 4 differential
    };
    struct SOption {
        const char* name;      // without the leading '-'; "" makes a heading line of the help
        EValue value;
        const char* argument;  // the value's placeholder in the help, e.g. "<seconds>"
        // The help text; nullptr lists the option on one line with the next one, which carries
        // the text for both.
        const char* help;
    };

    explicit COptionTable(std::vector<SOption> options);

    [[nodiscard]] CKxError Check(const CCommandLineArguments& args) const;
    std::string Help() const;

    // True when `value` has the form `kind` asks for.
    static bool IsValid(EValue kind, const std::string& value);

private:
    const SOption* Find(const std::string& name) const;

    std::vector<SOption> m_options;
};
