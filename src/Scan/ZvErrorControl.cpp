#include "Scan/ZvErrorControl.h"

#include "Agent/ZVJobCtrlClient.h"
#include "Agent/ZVPlatformInfo.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/LogWriter.h"
#include "Scan/ErrorRulesXml.h"


#include <cerrno>
#include <dlfcn.h>
#include <mutex>
#include <charconv>
#include <fstream>
#include <system_error>


namespace {

std::mutex g_readerLock;  // guards g_reader
ParseErrorRulesXmlFn g_reader = nullptr;

// The XML reader: the one set by SetXmlReader, else the plug-in beside this library, opened
// once and kept.
CKxError XmlReader(ParseErrorRulesXmlFn& reader)
{
    std::lock_guard lock(g_readerLock);
    if (!g_reader) {
        Dl_info self {};
        std::string folder = ".";
        if (::dladdr(reinterpret_cast<void*>(&XmlReader), &self) != 0 && self.dli_fname)
            folder = FXPath::Parent(self.dli_fname);
        const std::string path = FXPath::Append(folder, kErrorRulesXmlLibrary);
        void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return CKxError(KxCode::NotFound, KxFormat("The XML reader [%s] cannot be loaded: %s", path.c_str(),
                                                       ::dlerror()));
        g_reader = reinterpret_cast<ParseErrorRulesXmlFn>(::dlsym(library, kParseErrorRulesXmlSymbol));
        if (!g_reader)
            return CKxError(KxCode::NotFound, KxFormat("The XML reader [%s] has no %s", path.c_str(),
                                                       kParseErrorRulesXmlSymbol));
    }
    reader = g_reader;
    return CKxError::Success();
}

using SRuleText = SErrorRuleText;

CKxError ParseRules(const std::string& text, const std::string& name, std::vector<SRuleText>& rules)
{
    ParseErrorRulesXmlFn reader = nullptr;
    KX_RETURN_IF_ERROR(XmlReader(reader));
    CKxError result;
    reader(&text, &name, &rules, &result);
    return result;
}


bool SplitAtLastDelimiter(std::string_view line, char delimiter, std::string& path, long& code)
{
    const size_t at = line.rfind(delimiter);
    if (at == std::string_view::npos)
        return false;
    const std::string_view digits = line.substr(at + 1);
    auto [stop, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), code);
    if (ec != std::errc() || stop != digits.data() + digits.size() || digits.empty())
        return false;
    path.assign(line.substr(0, at));
    return true;
}

}  // namespace

void ZvErrorControl::SetXmlReader(ParseErrorRulesXmlFn reader)
{
    std::lock_guard lock(g_readerLock);
    g_reader = reader;
}

ZvErrorControl::ZvErrorControl(int pathType) : m_pathType(pathType == kPathTypeDefault ? kPathTypeSlash : pathType) {}

ZvErrorControl::ZvErrorControl(std::shared_ptr<ZVJobCtrlClient> control, int entityType, std::uint64_t clientId,
                               unsigned long appType, const std::string& folder, int pathType)
    : ZvErrorControl(pathType)
{
    m_control = std::move(control);
    FSLOG(0, "Going to fetch rules, ClientId=%lu, AppType=%lu, EntityString=%s", static_cast<unsigned long>(clientId),
          appType, KxFormat("entityType=%d;clientId=%lu", entityType, static_cast<unsigned long>(clientId)).c_str());
    std::string text;
    CKxError fetched = m_control ? m_control->getJobErrorRules(clientId, appType, text)
                                 : CKxError(KxCode::NotFound, "No job control client");
    if (fetched.IsError()) {
        FSLOG(0, "No rules defined for client id %lu app type %lu", static_cast<unsigned long>(clientId), appType);
        if (fetched.Code() != ENOENT)
            FSLOG_ERROR("%s", fetched.AsString().c_str());
        return;
    }
    // Kept beside the job's other files, so that an operator sees which rules the job obeyed.
    const std::string kept = FXPath::Append(folder, kRulesFileName);
    if (CKxError written = FXFile::WriteFileAtomically(kept, text); written.IsError())
        FSLOG_ERROR("Failed to create file %s to process XML data: %s", kept.c_str(), written.AsString().c_str());
    if (CKxError parsed = ParseXMLRulesFromXMLString(text, kept); parsed.IsError())
        FSLOG_ERROR("%s", parsed.AsString().c_str());
}

ZvErrorControl::ZvErrorControl(const std::string& rulesFile, int pathType) : ZvErrorControl(pathType)
{
    LoadFromFile(rulesFile);
}

ZvErrorControl::ZvErrorControl(std::shared_ptr<ZVJobCtrlClient> control, const std::string& rulesFile, int pathType)
    : ZvErrorControl(pathType)
{
    m_control = std::move(control);
    LoadFromFile(rulesFile);
}

void ZvErrorControl::LoadFromFile(const std::string& rulesFile)
{
    if (CKxError parsed = ParseXMLRulesFromInputFile(rulesFile); parsed.IsError())
        FSLOG_ERROR("%s", parsed.AsString().c_str());
}

CKxError ZvErrorControl::ParseXMLRulesFromInputFile(const std::string& path)
{
    std::string text;
    KX_RETURN_IF_FAILED(FXFile::ReadWholeFile(path, text), "Failed to read error rules file %s", path.c_str());
    return ParseXMLRulesFromXMLString(text, path);
}

CKxError ZvErrorControl::ParseXMLRulesFromXMLString(const std::string& text, const std::string& name)
{
    std::vector<SRuleText> parsed;
    KX_RETURN_IF_ERROR(ParseRules(text, name, parsed));
    const size_t before = m_rules.size();
    for (SRuleText& rule : parsed) {
        Error_Tab tab(rule.pattern, rule.decision, std::move(rule.ranges), m_pathType);
        if (!tab.is_valid()) {
            FSLOG(0, "Invalid rules for pattern=%s", rule.pattern.c_str());
            continue;
        }
        tab.SetSkipFromReporting(rule.skipFromReporting);
        m_rules.push_back(std::move(tab));
    }
    if (m_rules.size() == before)
        FSLOG(0, "Nothing could be parsed into error decision tables from XML file %s", name.c_str());
    else
        FSLOG(0, "XML file %s parsed and error decisions populated", name.c_str());
    std::uint32_t dump = 0;
    if (ZVPlatformInfo::getNumber("FileSystemAgent", "nDumpErrorControl", dump) && dump == 1)
        DumpErrorTab();
    return CKxError::Success();
}

void ZvErrorControl::DumpErrorTab() const
{
    for (const Error_Tab& rule : m_rules) {
        FSLOG(0, "pattern=%s, jobDecision=%d", rule.GetPattern().c_str(), rule.GetDecision());
        for (const Error_Range& range : rule.GetRanges())
            FSLOG(0, "\t\tallError=%d, fromError=%ld, toError=%ld", range.allErrors ? 1 : 0,
                  static_cast<long>(range.from), static_cast<long>(range.to));
    }
}

const Error_Tab* ZvErrorControl::FirstMatch(std::string_view path, long code, std::string& patternOut) const
{
    for (const Error_Tab& rule : m_rules)
        if (rule.match(path, code, patternOut) != kNoDecision)
            return &rule;
    patternOut.clear();
    return nullptr;
}

bool ZvErrorControl::IsSkipFromReporting(std::string_view path, long code, std::string& patternOut) const
{
    const Error_Tab* rule = FirstMatch(path, code, patternOut);
    return rule && rule->IsSkipFromReporting();
}

ZvErrorControl::DecisionType ZvErrorControl::GetJobDecisionFor(std::string_view path, long code,
                                                               std::string& patternOut) const
{
    const Error_Tab* rule = FirstMatch(path, code, patternOut);
    if (!rule) {
        FSLOG(5, "No associated error decision found for %.*s and error code %ld, default is to skip",
              static_cast<int>(path.size()), path.data(), code);
        return kNoDecision;
    }
    return rule->GetDecision();
}

std::string ZvErrorControl::ErrorText(std::string_view path, long code)
{
    return std::string(path) + ": " + std::error_code(static_cast<int>(code), std::generic_category()).message();
}

ZvErrorControl::DecisionType ZvErrorControl::Evaluate(const std::function<bool(std::string&)>& nextLine,
                                                      const std::string& file, std::string& errorText,
                                                      std::string& patternOut, char delimiter, const LineParser& parse)
{
    SStored result;
    result.decision = kSkip;
    bool anyLine = false;
    std::string line, path;
    while (nextLine(line)) {
        if (line.empty())
            continue;
        anyLine = true;
        long code = 0;
        if (!(parse ? parse(line, delimiter, path, code) : SplitAtLastDelimiter(line, delimiter, path, code))) {
            if (file.empty())
                FSLOG(0, "Failed file %s does not have error code; Skipping", line.c_str());
            else
                FSLOG(0, "Line %s read from input file %s does not have error code; Skipping", line.c_str(),
                      file.c_str());
            continue;
        }
        FSLOG(5, "Going to check file %s and error code %ld", path.c_str(), code);
        if (m_control && m_control->checkQuitFlag()) {
            FSLOG(0, "Quit flag set");
            break;
        }
        std::string pattern;
        const DecisionType decision = GetJobDecisionFor(path, code, pattern);
        FSLOG(3, "Got job decision %d for file %s and error code %ld", decision, path.c_str(), code);
        if (decision == kNoDecision)
            continue;
        // The first item of the strongest decision names the decision; 2 ends the evaluation.
        const bool first = result.isDefault || decision > result.decision;
        result.isDefault = false;
        if (first) {
            result.decision = decision;
            result.file = path;
            result.pattern = pattern;
            result.code = code;
        }
        if (decision == kFailPhase)
            break;
    }
    if (!anyLine) {
        FSLOG(0, "There are no failed files; Error decision left to caller");
        return kNoDecision;
    }
    if (result.isDefault) {
        if (file.empty())
            FSLOG(0, "No error decision found for failed files; Default is to skip");
        else
            FSLOG(0, "No error decision found for files present in %s; Default is to skip", file.c_str());
    }
    errorText = result.isDefault ? std::string() : ErrorText(result.file, result.code);
    patternOut = result.pattern;
    result.valid = true;
    const DecisionType decision = result.decision;
    std::lock_guard lock(m_storedLock);
    m_stored = std::move(result);
    return decision;
}

ZvErrorControl::DecisionType ZvErrorControl::GetJobDecisionFor(const std::vector<std::string>& lines,
                                                               std::string& errorText, std::string& patternOut,
                                                               char delimiter, const LineParser& parse)
{
    errorText.clear();
    patternOut.clear();
    if (!HasRules())
        return kNoDecision;
    FSLOG(0, "Using delim [%c]", delimiter);
    size_t next = 0;
    return Evaluate(
        [&](std::string& line) {
            if (next == lines.size())
                return false;
            line = lines[next++];
            return true;
        },
        std::string(), errorText, patternOut, delimiter, parse);
}

ZvErrorControl::DecisionType ZvErrorControl::GetJobDecisionFor(const std::string& file, std::string& errorText,
                                                               std::string& patternOut, char delimiter,
                                                               const LineParser& parse)
{
    errorText.clear();
    patternOut.clear();
    if (!HasRules())
        return kNoDecision;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        FSLOG(0, "Input file %s not found; Error decision left to caller", file.c_str());
        return kNoDecision;
    }
    FSLOG(0, "Going to process error file %s; Using delim [%c]", file.c_str(), delimiter);
    return Evaluate(
        [&](std::string& line) {
            if (!std::getline(in, line))
                return false;
            const size_t first = line.find_first_not_of("\r\n\t");
            const size_t last = line.find_last_not_of("\r\n\t");
            line = first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
            return true;
        },
        file, errorText, patternOut, delimiter, parse);
}

bool ZvErrorControl::GetStoredJobDecision(DecisionType& decision, std::string& file, std::string& pattern, long& code,
                                          bool& isDefault) const
{
    std::lock_guard lock(m_storedLock);
    decision = m_stored.decision;
    file = m_stored.file;
    pattern = m_stored.pattern;
    code = m_stored.code;
    isDefault = m_stored.isDefault;
    return m_stored.valid;
}
