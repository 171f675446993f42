#include "Journal/JournalReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <unordered_set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Base/DirChangePathOrder.h"
#include "Base/FileNameEscaping.h"
#include "Journal/JournalFormat.h"

namespace {

constexpr size_t kChunk = 1 << 20;

// Reads a journal line by line in large chunks, counting lines for the messages.
class CLineSource {
public:
    CLineSource(int fd, const std::string& path, uint64_t end) : m_fd(fd), m_path(path), m_end(end) {}

    // Next whole line (without its "\n") into `line`; `more` false at m_end.
    CKxError Next(std::string_view& line, bool& more)
    {
        for (;;) {
            const size_t newline = m_buffer.find('\n', m_pos);
            if (newline != std::string::npos) {
                line = std::string_view(m_buffer).substr(m_pos, newline - m_pos);
                m_offset += newline + 1 - m_pos;
                m_pos = newline + 1;
                ++m_line;
                more = true;
                return CKxError::Success();
            }
            m_buffer.erase(0, m_pos);
            m_pos = 0;
            if (m_read >= m_end) {
                more = false;
                if (m_buffer.empty())
                    return CKxError::Success();
                return Damaged(m_line + 1, "the last line has no line end");
            }
            const size_t want = static_cast<size_t>(std::min<uint64_t>(kChunk, m_end - m_read));
            const size_t had = m_buffer.size();
            m_buffer.resize(had + want);
            const ssize_t got = ::pread(m_fd, m_buffer.data() + had, want, static_cast<off_t>(m_read));
            if (got < 0) {
                const int err = errno;
                if (err == EINTR) {
                    m_buffer.resize(had);
                    continue;
                }
                return CKxError::FromErrno(err, "read failed for the change journal [" + m_path + "]");
            }
            m_buffer.resize(had + static_cast<size_t>(got));
            if (got == 0)
                return Damaged(m_line + 1, "the file ended while being read");
            m_read += static_cast<uint64_t>(got);
        }
    }

    CKxError Damaged(uint64_t line, const std::string& what) const
    {
        return CKxError(KxCode::InvalidData, KxFormat("Damaged change journal [%s] at line %llu: %s", m_path.c_str(),
                                                      static_cast<unsigned long long>(line), what.c_str()));
    }

    uint64_t Offset() const { return m_offset; }
    uint64_t Line() const { return m_line; }

private:
    int m_fd;
    const std::string& m_path;
    uint64_t m_end;
    uint64_t m_read = 0;    // bytes read from the file
    uint64_t m_offset = 0;  // file offset of m_buffer[m_pos]
    uint64_t m_line = 0;    // lines handed out
    std::string m_buffer;
    size_t m_pos = 0;
};

bool HasControlByte(std::string_view line)
{
    return std::any_of(line.begin(), line.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// Checks the two header lines; on failure `what` says why and `line` which line it was.
bool ReadHeader(std::string_view first, std::string_view second, SJournalSpan& out, std::string& what, uint64_t& line)
{
    line = 1;
    constexpr std::string_view kMagic = "fsjournal ";
    if (first.substr(0, kMagic.size()) != kMagic) {
        what = "not a change journal (no \"fsjournal\" header)";
        return false;
    }
    std::string_view rest = first.substr(kMagic.size());
    const size_t blank1 = rest.find(' ');
    uint64_t version = 0;
    if (blank1 == std::string_view::npos || !JournalFormat::ParseDecimal(rest.substr(0, blank1), version)) {
        what = "damaged header";
        return false;
    }
    if (version != JournalFormat::kVersion) {
        what = "unknown journal version " + std::string(rest.substr(0, blank1));
        return false;
    }
    rest = rest.substr(blank1 + 1);
    const size_t blank2 = rest.find(' ');
    if (blank2 == std::string_view::npos || !JournalFormat::IsRunId(rest.substr(0, blank2)) ||
        !JournalFormat::ParseDecimal(rest.substr(blank2 + 1), out.sequence) || out.sequence == 0) {
        what = "damaged header";
        return false;
    }
    out.runId = rest.substr(0, blank2);
    line = 2;
    constexpr std::string_view kSince = "complete-since ";
    uint64_t since = 0;
    if (second.substr(0, kSince.size()) != kSince || !JournalFormat::ParseDecimal(second.substr(kSince.size()), since) ||
        since > static_cast<uint64_t>(INT64_MAX)) {
        what = "the second line is not \"complete-since <seconds>\"";
        return false;
    }
    out.completeSince = static_cast<int64_t>(since);
    return true;
}

// Decodes the path of a "d"/"l" record; `what` says why it is refused.
bool ReadPath(std::string_view escaped, std::string& path, std::string& what)
{
    CKxError e = unescapeFileName(escaped, path);
    if (e.IsError()) {
        what = "badly escaped path: " + e.Message();
        return false;
    }
    if (!JournalFormat::IsCanonicalPath(path)) {
        what = "not a canonical absolute path";
        return false;
    }
    return true;
}

std::vector<std::string> SortedPaths(std::unordered_set<std::string>& set)
{
    std::vector<std::string> paths;
    paths.reserve(set.size());
    for (auto it = set.begin(); it != set.end();)
        paths.push_back(std::move(set.extract(it++).value()));
    std::sort(paths.begin(), paths.end(), DirChangePathOrder::Less);
    return paths;
}

}  // namespace

CKxError CJournalReader::Read(const std::string& journalPath, uint64_t fromOffset, uint64_t toOffset, SJournalSpan& out)
{
    out = SJournalSpan();
    const int fd = ::open(journalPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return CKxError::FromErrno(errno, "open failed for the change journal [" + journalPath + "]");
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return CKxError::FromErrno(err, "fstat failed for the change journal [" + journalPath + "]");
    }
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    if (toOffset == kToEnd)
        toOffset = size;
    CLineSource source(fd, journalPath, std::min(toOffset, size));
    CKxError e = [&]() -> CKxError {
        if (!S_ISREG(st.st_mode))
            return source.Damaged(1, "not a regular file");
        if (toOffset > size)
            return CKxError(KxCode::InvalidData,
                            KxFormat("Change journal [%s] is %llu bytes, shorter than the point %llu read up to",
                                     journalPath.c_str(), static_cast<unsigned long long>(size),
                                     static_cast<unsigned long long>(toOffset)));
        std::string_view first, second;
        bool more = false;
        std::string firstLine;
        KX_RETURN_IF_ERROR(source.Next(first, more));
        if (!more)
            return source.Damaged(1, "no header");
        firstLine = first;  // the source's buffer may move on the next read
        KX_RETURN_IF_ERROR(source.Next(second, more));
        if (!more)
            return source.Damaged(2, "no \"complete-since\" line");
        std::string what;
        uint64_t badLine = 0;
        if (!ReadHeader(firstLine, second, out, what, badLine))
            return source.Damaged(badLine, what);
        out.headerEnd = source.Offset();
        if (fromOffset == 0)
            fromOffset = out.headerEnd;
        if (fromOffset < out.headerEnd || fromOffset > toOffset)
            return CKxError(KxCode::InvalidData,
                            KxFormat("Change journal [%s]: the span %llu to %llu does not lie after the header (%llu bytes)",
                                     journalPath.c_str(), static_cast<unsigned long long>(fromOffset),
                                     static_cast<unsigned long long>(toOffset),
                                     static_cast<unsigned long long>(out.headerEnd)));
        std::unordered_set<std::string> folders, links;
        std::string path;
        std::string_view line;
        bool startSeen = fromOffset == out.headerEnd;
        for (;;) {
            if (!startSeen && source.Offset() >= fromOffset) {
                if (source.Offset() != fromOffset)
                    return source.Damaged(source.Line(),
                                          KxFormat("the span start %llu is not a line start",
                                                   static_cast<unsigned long long>(fromOffset)));
                startSeen = true;
            }
            KX_RETURN_IF_ERROR(source.Next(line, more));
            if (!more)
                break;
            if (HasControlByte(line))
                return source.Damaged(source.Line(), "raw control byte");
            if (!startSeen)
                continue;
            const std::string_view kind = line.substr(0, line.find(' '));
            const std::string_view rest = line.size() > kind.size() ? line.substr(kind.size() + 1) : std::string_view();
            if (kind == "d" || kind == "l") {
                if (!ReadPath(rest, path, what))
                    return source.Damaged(source.Line(), what);
                (kind == "d" ? folders : links).insert(path);
            } else if (kind == "broken" && !rest.empty()) {
                if (!out.broken) {
                    out.broken = true;
                    out.brokenCause = rest;
                }
            } else if (line == "end") {
                out.ended = true;
            } else if (kind == "fsjournal" || kind == "complete-since") {
                return source.Damaged(source.Line(), "misplaced header line");
            } else {
                return source.Damaged(source.Line(), "unknown record [" + escapeFileName(line.substr(0, 40)) + "]");
            }
        }
        if (!startSeen)
            return source.Damaged(source.Line(), "the span start lies beyond the last line");
        out.folders = SortedPaths(folders);
        out.links = SortedPaths(links);
        return CKxError::Success();
    }();
    ::close(fd);
    return e;
}
