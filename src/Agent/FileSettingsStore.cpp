#include "Agent/FileSettingsStore.h"

#include <cerrno>
#include <sstream>

#include "Agent/InstancePaths.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Splits `content` into lines without their '\n'.
std::vector<std::string> SplitLines(const std::string& content)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos)
            end = content.size();
        lines.push_back(content.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}
}  // namespace

CFileSettingsStore::CFileSettingsStore(std::string folder) : m_folder(std::move(folder)) {}

std::string CFileSettingsStore::SectionPath(const std::string& section) const
{
    std::string folder = m_folder.empty() ? CInstancePaths::RegistryFolder() : m_folder;
    if (folder.empty() || section.empty() || section.find('/') != std::string::npos)
        return {};
    return FXPath::Append(folder, section);
}

bool CFileSettingsStore::ParseLine(const std::string& line, std::string& name, std::string& value)
{
    size_t pos = 0;
    while (pos < line.size() && IsBlank(line[pos]))
        ++pos;
    if (pos == line.size() || line[pos] == '#' || line[pos] == '\r')
        return false;
    size_t nameEnd = pos;
    while (nameEnd < line.size() && !IsBlank(line[nameEnd]) && line[nameEnd] != '\r')
        ++nameEnd;
    name = line.substr(pos, nameEnd - pos);
    size_t valueStart = nameEnd;
    while (valueStart < line.size() && IsBlank(line[valueStart]))
        ++valueStart;
    size_t valueEnd = line.size();
    while (valueEnd > valueStart && (IsBlank(line[valueEnd - 1]) || line[valueEnd - 1] == '\r'))
        --valueEnd;
    value = line.substr(valueStart, valueEnd - valueStart);
    return true;
}

bool CFileSettingsStore::Get(const std::string& section, const std::string& key, std::string& value,
                             std::string& where) const
{
    std::string path = SectionPath(section);
    if (path.empty())
        return false;
    std::string content;
    if (FXFile::ReadWholeFile(path, content).IsError())
        return false;
    std::vector<std::string> lines = SplitLines(content);
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string name, text;
        if (ParseLine(lines[i], name, text) && name == key) {
            value = std::move(text);
            where = path + ":" + std::to_string(i + 1);
            return true;
        }
    }
    return false;
}

CKxError CFileSettingsStore::Set(const std::string& section, const std::string& key, const std::string& value)
{
    std::string path = SectionPath(section);
    if (path.empty())
        return CKxError(KxCode::InvalidParameter, "No settings folder for section [" + section + "]");
    if (key.empty() || key.find_first_of(" \t\r\n") != std::string::npos || key[0] == '#')
        return CKxError(KxCode::InvalidParameter, "Invalid setting name [" + key + "]");
    if (value.find_first_of("\r\n") != std::string::npos)
        return CKxError(KxCode::InvalidParameter, "Setting [" + key + "] value holds a line break");

    std::lock_guard lock(m_writeLock);
    std::string content;
    CKxError read = FXFile::ReadWholeFile(path, content);
    if (read.IsError() && read.Code() != ENOENT)
        return read.Push("Failed to read settings section [" + section + "]");
    KX_RETURN_IF_FAILED(FXFile::CreateDirectories(FXPath::Parent(path)), "Failed to create settings folder");

    std::vector<std::string> lines = SplitLines(content);
    std::string newLine = key + " " + value;
    bool replaced = false;
    for (std::string& line : lines) {
        std::string name, text;
        if (!replaced && ParseLine(line, name, text) && name == key) {
            line = newLine;
            replaced = true;
        }
    }
    if (!replaced)
        lines.push_back(newLine);
    std::string out;
    for (const std::string& line : lines)
        out += line + "\n";
    KX_RETURN_IF_FAILED(FXFile::WriteFileAtomically(path, out), "Failed to write setting [%s/%s]", section.c_str(),
                        key.c_str());
    return CKxError::Success();
}
