#include "Agent/BackupIndexFormat.h"

#include "Base/DirChangePathOrder.h"
#include "Base/FileNameEscaping.h"

#include <algorithm>
#include <charconv>

namespace BackupIndexFormat {
namespace {
constexpr std::string_view kSuffix = ".idx";

bool IsItemKind(char kind)
{
    return kind == SIndexItem::kFile || kind == SIndexItem::kFolder || kind == SIndexItem::kSymbolicLink ||
           kind == SIndexItem::kOther;
}

// Lines of one path: the deletion first (it hides what older jobs hold), the item last.
int Rank(char kind) noexcept { return kind == kDeletion ? 0 : kind == kFailure ? 1 : 2; }

// Takes the next blank-terminated field off `text`.
std::string_view NextField(std::string_view& text)
{
    const size_t blank = text.find(' ');
    std::string_view field = text.substr(0, blank);
    text.remove_prefix(blank == std::string_view::npos ? text.size() : blank + 1);
    return field;
}

template <typename Number>
bool ParseNumber(std::string_view text, Number& value)
{
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

CKxError Malformed(const char* what, std::string_view text)
{
    return CKxError(KxCode::InvalidData,
                    KxFormat("%s: [%.*s]", what, static_cast<int>(std::min<size_t>(text.size(), 200)), text.data()));
}

template <typename Number>
void AppendNumber(Number value, std::string& out)
{
    char digits[24];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, end);
}
}  // namespace

std::string JobFileName(long long jobId) { return std::to_string(jobId) + std::string(kSuffix); }

bool ParseJobFileName(std::string_view name, long long& jobId)
{
    // Only the name the writer gives: no sign, no leading zero, no temporary suffix.
    return name.ends_with(kSuffix) && ParseNumber(name.substr(0, name.size() - kSuffix.size()), jobId) && jobId > 0 &&
           JobFileName(jobId) == name;
}

void AppendHeader(const SIndexJob& job, std::string& out)
{
    out += kMagic;
    out += ' ';
    AppendNumber(kVersion, out);
    out += ' ';
    AppendNumber(job.jobId, out);
    out += ' ';
    AppendNumber(job.backupType, out);
    out += ' ';
    AppendNumber(job.written, out);
    out += '\n';
}

CKxError ParseHeader(std::string_view text, SIndexJob& job)
{
    const std::string_view whole = text;
    int version = 0;
    if (NextField(text) != kMagic || !ParseNumber(NextField(text), version))
        return Malformed("Not a backup-index header", whole);
    if (version != kVersion)
        return CKxError(KxCode::InvalidData, KxFormat("Backup-index version %d is not supported (only %d)", version,
                                                      kVersion));
    if (!ParseNumber(NextField(text), job.jobId) || job.jobId <= 0 || !ParseNumber(NextField(text), job.backupType) ||
        !ParseNumber(NextField(text), job.written) || !text.empty())
        return Malformed("Malformed backup-index header", whole);
    return CKxError::Success();
}

void AppendLine(const SLine& line, std::string& out)
{
    out += line.item.kind;
    out += ' ';
    if (line.item.kind == kFailure) {
        AppendNumber(line.error, out);
        out += ' ';
    } else if (line.item.kind != kDeletion) {
        AppendNumber(line.item.mtime, out);
        out += ' ';
        AppendNumber(line.item.ctime, out);
        out += ' ';
        AppendNumber(line.item.size, out);
        out += ' ';
    }
    escapeFileNameAppend(line.item.path, out);
    out += '\n';
}

CKxError ParseLine(std::string_view text, SLine& line)
{
    const std::string_view whole = text;
    const std::string_view kind = NextField(text);
    if (kind.size() != 1 || (!IsItemKind(kind[0]) && kind[0] != kDeletion && kind[0] != kFailure))
        return Malformed("Unknown backup-index line kind", whole);
    line.item.kind = kind[0];
    line.error = 0;
    line.item.mtime = line.item.ctime = 0;
    line.item.size = 0;
    if (kind[0] == kFailure) {
        if (!ParseNumber(NextField(text), line.error) || line.error <= 0)
            return Malformed("Malformed error number in backup-index line", whole);
    } else if (kind[0] != kDeletion) {
        if (!ParseNumber(NextField(text), line.item.mtime) || !ParseNumber(NextField(text), line.item.ctime) ||
            !ParseNumber(NextField(text), line.item.size))
            return Malformed("Malformed times or size in backup-index line", whole);
    }
    if (text.empty())
        return Malformed("Backup-index line without a path", whole);
    KX_RETURN_IF_FAILED(unescapeFileName(text, line.item.path), "Backup-index line [%.*s]",
                        static_cast<int>(std::min<size_t>(whole.size(), 200)), whole.data());
    return CKxError::Success();
}

int Compare(const SLine& a, const SLine& b) noexcept
{
    if (const int order = DirChangePathOrder::Compare(a.item.path, b.item.path); order != 0)
        return order;
    return Rank(a.item.kind) - Rank(b.item.kind);
}

}  // namespace BackupIndexFormat
