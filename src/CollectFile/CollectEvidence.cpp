#include "CollectFile/CollectEvidence.h"

#include "Base/FXFile.h"
#include "Base/FXPath.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr std::string_view kHeader = "fsweep-collect-evidence 1";
constexpr size_t kReadChunk = size_t{1} << 20;

bool ParseNumber(std::string_view text, std::uint64_t& value)
{
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

// "<lines> <bytes> <name>"
bool ParseEntry(std::string_view line, CCollectEvidence::SEntry& entry)
{
    const size_t first = line.find(' ');
    const size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    if (second == std::string_view::npos || second + 1 >= line.size())
        return false;
    entry.name = std::string(line.substr(second + 1));
    return ParseNumber(line.substr(0, first), entry.lines) &&
           ParseNumber(line.substr(first + 1, second - first - 1), entry.bytes);
}
}  // namespace

CKxError CCollectEvidence::ListCovered(const std::string& folder, const std::string& collectPattern,
                                       const std::string& splitMapName, std::vector<std::string>& names)
{
    names.clear();
    KX_RETURN_IF_FAILED(FXFile::ListMatchingFiles(folder, collectPattern, names), "Failed to list the collect files");
    std::vector<std::string> hardLinkFiles;
    KX_RETURN_IF_FAILED(FXFile::ListMatchingFiles(folder, "H" + collectPattern, hardLinkFiles),
                        "Failed to list the hard-link collect files");
    names.insert(names.end(), hardLinkFiles.begin(), hardLinkFiles.end());
    if (!splitMapName.empty() && FXFile::Exists(FXPath::Append(folder, splitMapName)))
        names.push_back(splitMapName);
    std::sort(names.begin(), names.end());
    return CKxError::Success();
}

CKxError CCollectEvidence::Measure(const std::string& path, SEntry& entry)
{
    entry = SEntry{0, 0, FXPath::FileName(path)};
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return CKxError::FromErrno(errno, "Failed to open [" + path + "] to measure it");
    std::unique_ptr<char[]> buffer(new char[kReadChunk]);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.get(), kReadChunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            return CKxError::FromErrno(error, "Failed to read [" + path + "] to measure it");
        }
        if (got == 0)
            break;
        entry.bytes += static_cast<std::uint64_t>(got);
        // memchr is the C library's vector search: a fraction of a byte-by-byte count's time.
        const char* end = buffer.get() + got;
        for (const char* at = buffer.get(); (at = static_cast<const char*>(std::memchr(at, '\n', end - at))); ++at)
            ++entry.lines;
    }
    ::close(fd);
    return CKxError::Success();
}

CKxError CCollectEvidence::Write(const std::string& evidencePath, const std::string& folder,
                                 const std::vector<std::string>& names, const std::vector<SEntry>& written)
{
    std::string text(kHeader);
    text += '\n';
    for (const std::string& name : names) {
        const std::string path = FXPath::Append(folder, name);
        auto counted = std::find_if(written.begin(), written.end(), [&](const SEntry& e) { return e.name == name; });
        struct stat status {};
        SEntry entry;
        if (counted != written.end() && ::stat(path.c_str(), &status) == 0 &&
            static_cast<std::uint64_t>(status.st_size) == counted->bytes)
            entry = *counted;
        else
            KX_RETURN_IF_ERROR(Measure(path, entry));
        text += std::to_string(entry.lines) + ' ' + std::to_string(entry.bytes) + ' ' + name + '\n';
    }
    // Synced with the rest of the job's outputs at the end of clean-up, not here.
    KX_RETURN_IF_FAILED(FXFile::WriteFileAtomically(evidencePath, text, FXFile::EDurability::Volatile),
                        "Failed to write the collect-file evidence [%s]", evidencePath.c_str());
    return CKxError::Success();
}

CKxError CCollectEvidence::Verify(const std::string& evidencePath, const std::string& folder,
                                  const std::vector<std::string>& names)
{
    if (!FXFile::Exists(evidencePath))
        return CKxError(KxCode::NotFound, KxFormat("The collect files carry no whole-file evidence: [%s] is missing",
                                                   evidencePath.c_str()));
    std::string text;
    KX_RETURN_IF_FAILED(FXFile::ReadWholeFile(evidencePath, text), "Failed to read the collect-file evidence");
    std::map<std::string, SEntry> recorded;
    size_t lineNumber = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            return CKxError(KxCode::InvalidData, KxFormat("Collect-file evidence [%s] is cut: its last line has no end",
                                                          evidencePath.c_str()));
        const std::string_view line(text.data() + start, end - start);
        start = end + 1;
        ++lineNumber;
        SEntry entry;
        const bool good = lineNumber == 1 ? line == kHeader : ParseEntry(line, entry);
        if (!good)
            return CKxError(KxCode::InvalidData, KxFormat("Line %zu of collect-file evidence [%s] is malformed",
                                                          lineNumber, evidencePath.c_str()));
        if (lineNumber > 1)
            recorded[entry.name] = entry;
    }
    if (lineNumber == 0)
        return CKxError(KxCode::InvalidData, KxFormat("Collect-file evidence [%s] is empty", evidencePath.c_str()));

    for (const std::string& name : names)
        if (!recorded.contains(name))
            return CKxError(KxCode::InvalidData,
                            KxFormat("Collect file [%s] is not in the evidence the scan left",
                                     FXPath::Append(folder, name).c_str()));
    for (const auto& [name, expected] : recorded) {
        const std::string path = FXPath::Append(folder, name);
        if (!FXFile::Exists(path))
            return CKxError(KxCode::NotFound, KxFormat("Collect file [%s] is missing", path.c_str()));
        SEntry found;
        KX_RETURN_IF_ERROR(Measure(path, found));
        if (found.lines != expected.lines || found.bytes != expected.bytes)
            return CKxError(KxCode::InvalidData,
                            KxFormat("Collect file [%s] is not whole: %llu lines, %llu bytes where the scan left "
                                     "%llu lines, %llu bytes",
                                     path.c_str(), static_cast<unsigned long long>(found.lines),
                                     static_cast<unsigned long long>(found.bytes),
                                     static_cast<unsigned long long>(expected.lines),
                                     static_cast<unsigned long long>(expected.bytes)));
    }
    return CKxError::Success();
}
