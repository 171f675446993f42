#include "Scan/ChangeJournalPoints.h"

#include "Base/FXFile.h"
#include "Base/FileNameEscaping.h"
#include "Base/LogWriter.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <sstream>

namespace {
constexpr std::string_view kHeader = "fsweep-journal-points 1";

template <typename T>
void SortUnique(std::vector<T>& values)
{
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
}

template <typename T>
bool ParseNumber(std::string_view text, T& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// Splits `line` at blanks into at most `count` fields, the last taking the rest.
std::vector<std::string_view> Fields(std::string_view line, size_t count)
{
    std::vector<std::string_view> fields;
    while (fields.size() + 1 < count) {
        const size_t blank = line.find(' ');
        if (blank == std::string_view::npos)
            break;
        fields.push_back(line.substr(0, blank));
        line.remove_prefix(blank + 1);
    }
    fields.push_back(line);
    return fields;
}

bool ParsePoint(std::string_view line, SChangeJournalPoint& point)
{
    const std::vector<std::string_view> f = Fields(line, 9);
    if (f.size() != 9 || f[0] != "point" || f[1].empty() || (f[7] != "walk" && f[7] != "journal" && f[7] != "full"))
        return false;
    point.record = f[1];
    point.runId = f[2] == "-" ? std::string() : std::string(f[2]);
    point.contentHash = f[6];
    point.journal = f[7] == "journal";
    point.full = f[7] == "full";
    std::string cause;
    if (!ParseNumber(f[3], point.sequence) || !ParseNumber(f[4], point.offset) || !ParseNumber(f[5], point.time) ||
        unescapeFileName(f[8], cause).IsError())
        return false;
    point.cause = std::move(cause);
    return true;
}

bool ParseMember(std::string_view line, SChangeJournalPoint& point)
{
    if (line.size() < 2 || line[1] != ' ')
        return false;
    const std::string_view rest = line.substr(2);
    std::string path;
    switch (line[0]) {
    case 'm':
    case 'r':
        if (unescapeFileName(rest, path).IsError() || path.empty())
            return false;
        (line[0] == 'm' ? point.multiLinkFolders : point.retryPaths).push_back(std::move(path));
        return true;
    case 'i': {
        const std::vector<std::string_view> f = Fields(rest, 2);
        std::pair<std::uint64_t, std::uint64_t> file;
        if (f.size() != 2 || !ParseNumber(f[0], file.first) || !ParseNumber(f[1], file.second))
            return false;
        point.multiLinkFiles.push_back(file);
        return true;
    }
    default: return false;
    }
}

void Append(const SChangeJournalPoint& point, std::string& out)
{
    std::ostringstream line;
    line << "point " << point.record << ' ' << (point.runId.empty() ? "-" : point.runId) << ' ' << point.sequence
         << ' ' << point.offset << ' ' << point.time << ' ' << (point.contentHash.empty() ? "-" : point.contentHash)
         << ' ' << (point.full ? "full" : point.journal ? "journal" : "walk") << ' ' << escapeFileName(point.cause) << '\n';
    for (const std::string& folder : point.multiLinkFolders)
        line << "m " << escapeFileName(folder) << '\n';
    for (const auto& [device, inode] : point.multiLinkFiles)
        line << "i " << device << ' ' << inode << '\n';
    for (const std::string& path : point.retryPaths)
        line << "r " << escapeFileName(path) << '\n';
    out += line.str();
}
}  // namespace

CKxError CChangeJournalPoints::Load(const std::string& path, std::vector<SChangeJournalPoint>& points)
{
    points.clear();
    std::string text;
    if (CKxError read = FXFile::ReadWholeFile(path, text); read.IsError())
        return read.Code() == ENOENT ? CKxError::Success() : read;
    size_t number = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        ++number;
        const std::string_view line =
            std::string_view(text).substr(at, end == std::string::npos ? std::string::npos : end - at);
        bool good = end != std::string::npos;
        if (good && number == 1)
            good = line == kHeader;
        else if (good && line.starts_with("point ")) {
            points.emplace_back();
            good = ParsePoint(line, points.back());
        } else if (good)
            good = !points.empty() && ParseMember(line, points.back());
        if (!good) {
            points.clear();
            return CKxError(KxCode::InvalidData,
                            KxFormat("The journal points file [%s] is damaged at line %zu", path.c_str(), number));
        }
        at = end + 1;
    }
    return CKxError::Success();
}

const SChangeJournalPoint* CChangeJournalPoints::Find(const std::vector<SChangeJournalPoint>& points,
                                                      const std::string& record)
{
    for (auto it = points.rbegin(); it != points.rend(); ++it)
        if (it->record == record)
            return &*it;
    return nullptr;
}

CKxError CChangeJournalPoints::Store(const std::string& path, SChangeJournalPoint point)
{
    std::vector<SChangeJournalPoint> points;
    if (CKxError loaded = Load(path, points); loaded.IsError())
        FSLOG_ERROR("%s: it is replaced", loaded.AsString().c_str());
    const auto same = std::find_if(points.begin(), points.end(),
                                   [&](const SChangeJournalPoint& p) { return p.record == point.record; });
    if (same != points.end()) {
        if (same->contentHash != point.contentHash || same->runId.empty() || point.runId.empty())
            point.runId.clear();  // no position both records can trust
        else if (same->runId != point.runId || same->sequence != point.sequence || same->offset < point.offset) {
            point.runId = same->runId;
            point.sequence = same->sequence;
            point.offset = same->offset;
            point.time = same->time;
        }
        point.multiLinkFolders.insert(point.multiLinkFolders.end(), same->multiLinkFolders.begin(),
                                      same->multiLinkFolders.end());
        point.multiLinkFiles.insert(point.multiLinkFiles.end(), same->multiLinkFiles.begin(),
                                    same->multiLinkFiles.end());
        point.retryPaths.insert(point.retryPaths.end(), same->retryPaths.begin(), same->retryPaths.end());
        points.erase(same);
    }
    SortUnique(point.multiLinkFolders);
    SortUnique(point.multiLinkFiles);
    SortUnique(point.retryPaths);
    points.push_back(std::move(point));
    if (points.size() > kPointsKept)
        points.erase(points.begin(), points.end() - kPointsKept);
    std::string text(kHeader);
    text += '\n';
    for (const SChangeJournalPoint& p : points)
        Append(p, text);
    KX_RETURN_IF_FAILED(FXFile::WriteFileAtomically(path, text), "Failed to store the journal point in [%s]",
                        path.c_str());
    return CKxError::Success();
}
