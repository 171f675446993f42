#include "Tools/fsweep/JobReport.h"

#include "Agent/BackupIndexFileReader.h"
#include "Agent/InstancePaths.h"
#include "Agent/JobJournal.h"
#include "Base/FXPath.h"
#include "Scan/ResultsFolderLists.h"
#include "Scan/ScanJobFileSystem.h"

#include <dirent.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <regex>
#include <unistd.h>
#include <sstream>

namespace {
std::string Bytes(double bytes)
{
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 4) {
        bytes /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, kUnits[unit]);
    return text;
}

std::string Seconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", seconds);
    return text;
}

std::string Parent(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

// The `count` keys with the largest values, largest first, ties by key.
template <typename Value>
std::vector<std::pair<std::string, Value>> Top(const std::map<std::string, Value>& values, size_t count)
{
    std::vector<std::pair<std::string, Value>> top(values.begin(), values.end());
    std::stable_sort(top.begin(), top.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    if (top.size() > count)
        top.resize(count);
    return top;
}

std::string EscapeHtml(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default:
            // Bytes the page cannot hold as they are (control bytes, bytes that are not UTF-8 in a
            // file name) are shown as escapes, so that the page stays well-formed.
            if (c < 0x20 || c >= 0x80)
                out += "\\x" + std::string(1, "0123456789abcdef"[c >> 4]) + "0123456789abcdef"[c & 15];
            else
                out += static_cast<char>(c);
        }
    }
    return out;
}

const char* Outcome(int status)
{
    switch (status) {
    case 1: return "completed";
    case 2: return "failed";
    case 3: return "completed with errors";
    default: return "not reported";
    }
}
}  // namespace

CJobReport::CJobReport(long long jobId, std::string applicationId)
    : m_jobId(jobId), m_applicationId(std::move(applicationId))
{
}

CKxError CJobReport::Load()
{
    KX_RETURN_IF_ERROR(LoadJournal());
    KX_RETURN_IF_ERROR(LoadIndex());
    LoadResultsFolder();
    LoadSteps();
    return CKxError::Success();
}

CKxError CJobReport::LoadJournal()
{
    std::vector<std::string> lines;
    KX_RETURN_IF_FAILED(CJobJournal::Read(m_jobId, lines), "No journal of job [%lld]", m_jobId);
    for (const std::string& line : lines) {
        const nlohmann::json call = nlohmann::json::parse(line, nullptr, false);
        if (!call.is_object())
            continue;
        const std::string name = call.value("call", "");
        if (name == "complete") {
            m_status = call.value("status", 0);
            m_message = call.value("message", "");
        } else if (name == "setNumStreams") {
            m_streams = call.value("streams", 0LL);
        } else if (name == "setUncompBytesToXfer") {
            m_scanBytes = call.value("bytes", 0LL);
        } else if (name == "addScanFileFailures") {
            m_scanFailures = call.value("count", 0LL);
        } else if (name == "backupPhase") {
            m_backupStatus = call.value("status", 0);
            m_backupItems = call.value("items", 0LL);
            m_backupFolders = call.value("folders", 0LL);
            m_backupBytes = call.value("bytes", 0LL);
        }
    }
    return CKxError::Success();
}

CKxError CJobReport::LoadIndex()
{
    const std::string folder = CInstancePaths::IndexFolder();
    const std::string file = std::to_string(m_jobId) + ".idx";
    std::string path;
    if (!m_applicationId.empty()) {
        std::string subclient = m_applicationId;
        std::replace(subclient.begin(), subclient.end(), ':', '_');
        path = FXPath::Append(FXPath::Append(folder, subclient), file);
    } else if (DIR* dir = ::opendir(folder.c_str())) {
        // The subclient whose index holds the job.
        static const std::regex kSubclient(R"(([0-9]+)_([0-9]+))");
        while (const dirent* entry = ::readdir(dir)) {
            std::cmatch match;
            const std::string candidate = FXPath::Append(FXPath::Append(folder, entry->d_name), file);
            if (std::regex_match(entry->d_name, match, kSubclient) && ::access(candidate.c_str(), F_OK) == 0) {
                path = candidate;
                m_applicationId = match[1].str() + ":" + match[2].str();
                break;
            }
        }
        ::closedir(dir);
    }
    if (!m_applicationId.empty()) {
        const size_t colon = m_applicationId.find(':');
        m_resultsFolder = FXPath::Append(FXPath::Append(CInstancePaths::JobResultsFolder(),
                                                        m_applicationId.substr(0, colon)),
                                         m_applicationId.substr(colon + 1));
    }
    CBackupIndexFileReader reader;
    SIndexJob header;
    if (path.empty() || reader.Open(path, &header).IsError())
        return CKxError::Success();  // no backup phase indexed the job: the sections say so
    m_indexFound = true;
    for (bool got = true;;) {
        KX_RETURN_IF_ERROR(reader.Next(got));
        if (!got)
            return CKxError::Success();
        const BackupIndexFormat::SLine& line = reader.Line();
        if (line.item.kind == BackupIndexFormat::kFailure)
            m_failures.emplace_back(line.error, line.item.path);
        else if (line.item.kind == BackupIndexFormat::kDeletion)
            ++m_deletions;
        else
            m_sizes[line.item.path] = line.item.kind == SIndexItem::kFolder ? 0 : line.item.size;
    }
}

void CJobReport::LoadResultsFolder()
{
    // The results folder holds the failure list and collect files of the newest job only.
    const std::vector<int64_t> ids = CJobJournal::JobIds();
    if (m_resultsFolder.empty() || ids.empty() || ids.back() != m_jobId)
        return;
    m_collectFilesHere = true;
    CResultsFolderLists::ReadScanFailures(m_resultsFolder, [this](std::string path, int code) {
        m_failures.emplace_back(code, std::move(path));
    });
    CResultsFolderLists::ReadCollectFiles(m_resultsFolder, [this](int number, std::string path) {
        auto& [items, bytes] = m_collectFiles[number];
        ++items;
        if (auto it = m_sizes.find(path); it != m_sizes.end())
            bytes += it->second;
    });
}

void CJobReport::LoadSteps()
{
    std::ifstream in(FXPath::Append(FXPath::Append(FXPath::Append(CInstancePaths::JobResultsFolder(), "jobs"),
                                                   std::to_string(m_jobId)),
                                    CScanJobFileSystem::kStepTimesFile));
    const nlohmann::json record = nlohmann::json::parse(in, nullptr, false);
    if (!record.is_object())
        return;
    m_jobSeconds = record.value("seconds", 0.0);
    if (const auto steps = record.find("steps"); steps != record.end() && steps->is_array())
        for (const nlohmann::json& step : *steps)
            if (step.is_object())
                m_steps.emplace_back(step.value("step", ""), step.value("seconds", 0.0));
}

std::vector<CJobReport::SSection> CJobReport::Sections() const
{
    std::vector<SSection> sections;
    std::string outcome = Outcome(m_status);
    if (!m_message.empty())
        outcome += ": " + m_message;
    sections.push_back({"Outcome",
                        {{"job", std::to_string(m_jobId)},
                         {"subclient", m_applicationId.empty() ? "unknown" : m_applicationId},
                         {"scan phase", outcome},
                         {"backup phase", m_backupStatus == 0 ? "not run" : Outcome(m_backupStatus)}},
                        {},
                        ""});
    sections.push_back({"Selected",
                        {{"items", std::to_string(m_backupItems) + " (" + std::to_string(m_backupFolders) + " folders)"},
                         {"bytes", Bytes(static_cast<double>(m_backupBytes ? m_backupBytes : m_scanBytes))},
                         {"deletions", m_indexFound ? std::to_string(m_deletions) : "unknown (no backup index)"}},
                        {},
                        ""});

    SSection failures{"Failures", {{"scan failures reported", std::to_string(m_scanFailures)}}, {}, ""};
    std::map<std::string, long long> byError, byFolder;
    for (const auto& [error, path] : m_failures) {
        ++byError["error " + std::to_string(error) + " (" + std::strerror(error) + ")"];
        ++byFolder[Parent(path)];
    }
    for (const auto& [error, count] : Top(byError, byError.size()))
        failures.lines.emplace_back(error, std::to_string(count));
    for (const auto& [folder, count] : Top(byFolder, 10))
        failures.lines.emplace_back("in " + folder, std::to_string(count));
    sections.push_back(std::move(failures));

    SSection streams{"Streams", {{"streams", std::to_string(m_streams)}}, {}, "bytes"};
    if (!m_collectFilesHere)
        streams.lines.emplace_back("collect files", "no longer in the results folder");
    for (const auto& [number, counts] : m_collectFiles) {
        const std::string label = "collect file " + std::to_string(number);
        streams.lines.emplace_back(label, std::to_string(counts.first) + " items, " +
                                              Bytes(static_cast<double>(counts.second)));
        streams.chart.push_back({label, static_cast<double>(counts.second)});
    }
    sections.push_back(std::move(streams));

    SSection folders{"Top folders by selected bytes", {}, {}, ""};
    std::map<std::string, std::uint64_t> bytesByFolder;
    for (const auto& [path, size] : m_sizes)
        if (size)
            bytesByFolder[Parent(path)] += size;
    for (const auto& [folder, bytes] : Top(bytesByFolder, 10))
        folders.lines.emplace_back(folder, Bytes(static_cast<double>(bytes)));
    if (!m_indexFound)
        folders.lines.emplace_back("folders", "unknown (no backup index)");
    sections.push_back(std::move(folders));

    SSection steps{"Step times", {{"job", Seconds(m_jobSeconds)}}, {}, "s"};
    for (const auto& [name, seconds] : m_steps)
        if (name == "walk" || seconds > m_jobSeconds / 100) {
            steps.lines.emplace_back(name, Seconds(seconds));
            steps.chart.push_back({name, seconds});
        }
    if (m_steps.empty())
        steps.lines.emplace_back("steps", "not recorded");
    sections.push_back(std::move(steps));
    return sections;
}

std::string CJobReport::Text() const
{
    std::ostringstream out;
    for (const SSection& section : Sections()) {
        out << section.title << "\n";
        for (const auto& [label, value] : section.lines)
            out << "  " << label << ": " << value << "\n";
    }
    return out.str();
}

std::string CJobReport::Html() const
{
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n"
           "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><meta charset=\"UTF-8\"/>"
           "<title>fsweep job "
        << m_jobId
        << "</title><style>body{font-family:sans-serif}td{padding:0 1em 0 0}rect{fill:#4a7ab5}</style>"
           "</head><body>\n<h1>fsweep job "
        << m_jobId << "</h1>\n";
    for (const SSection& section : Sections()) {
        out << "<h2>" << EscapeHtml(section.title) << "</h2>\n<table>\n";
        for (const auto& [label, value] : section.lines)
            out << "<tr><td>" << EscapeHtml(label) << "</td><td>" << EscapeHtml(value) << "</td></tr>\n";
        out << "</table>\n";
        if (section.chart.empty())
            continue;
        // One bar a row, scaled to the largest value.
        double largest = 0;
        for (const SRow& row : section.chart)
            largest = std::max(largest, row.value);
        const size_t height = 22 * section.chart.size();
        out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"720\" height=\"" << height << "\">\n";
        for (size_t i = 0; i < section.chart.size(); ++i) {
            const SRow& row = section.chart[i];
            const double width = largest > 0 ? 400 * row.value / largest : 0;
            const std::string value = section.unit == "s" ? Seconds(row.value) : Bytes(row.value);
            out << "<text x=\"0\" y=\"" << 22 * i + 15 << "\">" << EscapeHtml(row.label) << "</text>"
                << "<rect x=\"200\" y=\"" << 22 * i + 3 << "\" width=\"" << width << "\" height=\"16\"/>"
                << "<text x=\"" << 205 + width << "\" y=\"" << 22 * i + 15 << "\">" << EscapeHtml(value)
                << "</text>\n";
        }
        out << "</svg>\n";
    }
    out << "</body></html>\n";
    return out.str();
}
