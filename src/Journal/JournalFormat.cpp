#include "Journal/JournalFormat.h"

#include <cerrno>
#include <cstdio>

#include <sys/random.h>

#include "Base/FileNameEscaping.h"

namespace JournalFormat {

void AppendHeader(std::string_view runId, uint64_t sequence, int64_t completeSince, std::string& out)
{
    out += "fsjournal ";
    out += std::to_string(kVersion);
    out += ' ';
    out += runId;
    out += ' ';
    out += std::to_string(sequence);
    out += "\ncomplete-since ";
    out += std::to_string(completeSince);
    out += '\n';
}

void AppendFolder(std::string_view path, std::string& out)
{
    out += "d ";
    escapeFileNameAppend(path, out);
    out += '\n';
}

void AppendLink(std::string_view path, std::string& out)
{
    out += "l ";
    escapeFileNameAppend(path, out);
    out += '\n';
}

void AppendBroken(std::string_view cause, std::string& out)
{
    out += "broken ";
    if (cause.empty())
        cause = "unknown";
    for (char c : cause)
        out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? ' ' : c;
    out += '\n';
}

void AppendEnd(std::string& out) { out += "end\n"; }

CKxError NewRunId(std::string& runId)
{
    unsigned char random[kRunIdDigits / 2];
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
        return CKxError::FromErrno(errno, "getrandom failed for a journal run id");
    char hex[kRunIdDigits + 1];
    for (size_t i = 0; i < sizeof random; ++i)
        std::snprintf(hex + 2 * i, 3, "%02x", random[i]);
    runId.assign(hex, kRunIdDigits);
    return CKxError::Success();
}

bool IsRunId(std::string_view text)
{
    if (text.size() != kRunIdDigits)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

bool ParseDecimal(std::string_view text, uint64_t& value)
{
    if (text.empty() || (text.size() > 1 && text[0] == '0'))
        return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (v > (UINT64_MAX - digit) / 10)
            return false;
        v = v * 10 + digit;
    }
    value = v;
    return true;
}

bool IsCanonicalPath(std::string_view path)
{
    if (path.empty() || path[0] != '/')
        return false;
    if (path.size() == 1)
        return true;
    size_t start = 1;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view component = path.substr(start, end - start);
        if (component.empty() || component == "." || component == ".." ||
            component.find('\0') != std::string_view::npos)
            return false;
        start = end + 1;
    }
    return true;
}

}  // namespace JournalFormat
