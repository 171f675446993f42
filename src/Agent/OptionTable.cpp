#include "Agent/OptionTable.h"

#include "Base/DecimalText.h"

namespace {
constexpr size_t kHelpColumn = 24;

const char* Expected(COptionTable::EValue kind)
{
    using V = COptionTable::EValue;
    switch (kind) {
    case V::Count: return "a non-negative decimal number";
    case V::Integer: return "a decimal number";
    case V::BackupType: return "a backup type (1 full, 2 incremental, 4 differential)";
    default: return "a value";
    }
}

CKxError Refused(const std::string& reason) { return CKxError(KxCode::InvalidParameter, reason); }
}  // namespace

COptionTable::COptionTable(std::vector<SOption> options) : m_options(std::move(options)) {}

const COptionTable::SOption* COptionTable::Find(const std::string& name) const
{
    for (const SOption& option : m_options)
        if (*option.name != '\0' && name == option.name)
            return &option;
    return nullptr;
}

bool COptionTable::IsValid(EValue kind, const std::string& value)
{
    unsigned long long count = 0;
    long long number = 0;
    switch (kind) {
    case EValue::Count: return DecimalText::ParseUnsigned(value, count);
    case EValue::Integer: return DecimalText::ParseSigned(value, number);
    case EValue::BackupType: return value == "1" || value == "2" || value == "4";
    default: return true;
    }
}

CKxError COptionTable::Check(const CCommandLineArguments& args) const
{
    for (const auto& [name, value] : args.Options()) {
        const SOption* option = Find(name);
        if (!option)
            return Refused("unknown option -" + name);
        if (option->value == EValue::None) {
            if (value)
                return Refused("option -" + name + " takes no value, got \"" + *value + "\"");
        } else if (!value) {
            return Refused("option -" + name + " needs a value " + option->argument);
        } else if (!IsValid(option->value, *value)) {
            return Refused("option -" + name + " value \"" + *value + "\" is not " + Expected(option->value));
        }
    }
    if (!args.Positionals().empty())
        return Refused("unexpected argument \"" + args.Positionals().front() + "\"");
    return CKxError::Success();
}

std::string COptionTable::Help() const
{
    std::string help, names;
    for (const SOption& option : m_options) {
        if (*option.name == '\0') {
            help += std::string(option.help) + "\n";
            continue;
        }
        if (!names.empty())
            names += ", ";
        names += std::string("-") + option.name;
        if (option.value != EValue::None)
            names += std::string(" ") + option.argument;
        if (!option.help)
            continue;
        std::string line = "  " + names;
        line += line.size() < kHelpColumn ? std::string(kHelpColumn - line.size(), ' ')
                                          : "\n" + std::string(kHelpColumn, ' ');
        help += line + option.help + "\n";
        names.clear();
    }
    return help;
}
