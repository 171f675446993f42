#include "Scan/ZvErrorControl.h"

#include "Agent/ZVJobCtrlClient.h"
#include "Agent/ZVPlatformInfo.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/LogWriter.h"

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLString.hpp>

#include <cerrno>
#include <charconv>
#include <fstream>
#include <system_error>

namespace X = xercesc;

namespace {

// What the XML says, taken out of Xerces' DOM before Xerces is terminated.
struct SRuleText {
    std::string pattern;
    int decision = 0;
    bool skipFromReporting = false;
    std::vector<Error_Range> ranges;
};

std::mutex g_xercesLock;  // Xerces' initialisation and termination are not safe across threads

std::string Utf8(const XMLCh* text)
{
    if (!text || !*text)
        return std::string();
    X::TranscodeToStr utf8(text, "UTF-8");
    return std::string(reinterpret_cast<const char*>(utf8.str()), utf8.length());
}

// The attribute's value, or false when the element has no such attribute.
bool Attribute(const X::DOMElement& element, const XMLCh* name, std::string& value)
{
    const X::DOMAttr* attribute = element.getAttributeNode(name);
    if (!attribute)
        return false;
    value = Utf8(attribute->getValue());
    return true;
}

bool ParseInt(const std::string& text, std::int32_t& value)
{
    const char* end = text.data() + text.size();
    auto [stop, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && stop == end && !text.empty();
}

bool IsElement(const X::DOMNode* node, const XMLCh* name)
{
    return node->getNodeType() == X::DOMNode::ELEMENT_NODE && X::XMLString::equals(node->getNodeName(), name);
}

// One <errorCodes .../> element; false (logged) when a piece is missing.
bool ReadRange(const X::DOMElement& element, Error_Range& range)
{
    std::string all, from, to;
    if (!Attribute(element, u"allErrorCodes", all)) {
        FSLOG(0, "Associated allErrorCode flag not found with errors; Skipping");
        return false;
    }
    range.allErrors = all != "0";
    const bool hasFrom = Attribute(element, u"fromValue", from) && ParseInt(from, range.from);
    const bool hasTo = Attribute(element, u"toValue", to) && ParseInt(to, range.to);
    // An all-errors range needs no bounds.
    if (range.allErrors)
        return true;
    if (!hasFrom) {
        FSLOG(0, "Associated fromValue value not found with errors; Skipping");
        return false;
    }
    if (!hasTo) {
        FSLOG(0, "Associated toValue value not found with errors; Skipping");
        return false;
    }
    return true;
}

// One <ruleList ...> element; false (logged) when it is disabled or a piece is missing.
bool ReadRule(const X::DOMElement& element, SRuleText& rule)
{
    std::string enabled, decision, skip;
    if (Attribute(element, u"isEnabled", enabled) && enabled == "0") {
        FSLOG(3, "Rule for pattern %s is disabled; Skipping", Utf8(element.getAttribute(u"pattern")).c_str());
        return false;
    }
    if (!Attribute(element, u"pattern", rule.pattern) || rule.pattern.empty()) {
        FSLOG(0, "Associated pattern not found with the ruleList; Skipping");
        return false;
    }
    if (!Attribute(element, u"jobDecision", decision) || !ParseInt(decision, rule.decision)) {
        FSLOG(0, "Associated job decision not found with the ruleList; Skipping");
        return false;
    }
    if (rule.decision < ZvErrorControl::kSkip || rule.decision > ZvErrorControl::kFailPhase) {
        FSLOG_ERROR("Job decision %d for pattern %s is not 0, 1 or 2; Skipping", rule.decision, rule.pattern.c_str());
        return false;
    }
    rule.skipFromReporting = Attribute(element, u"skipFromReporting", skip) && skip != "0";
    for (const X::DOMNode* child = element.getFirstChild(); child; child = child->getNextSibling()) {
        if (!IsElement(child, u"errorCodes"))
            continue;
        Error_Range range;
        if (ReadRange(static_cast<const X::DOMElement&>(*child), range))
            rule.ranges.push_back(range);
    }
    if (rule.ranges.empty()) {
        FSLOG(0, "Associated error codes not found with the ruleList; Skipping");
        return false;
    }
    return true;
}

// Parses while Xerces is initialised (the parser and its document must be gone before Xerces
// is terminated).
CKxError ParseDocument(const std::string& text, const std::string& name, std::vector<SRuleText>& rules)
{
    X::XercesDOMParser parser;
    parser.setValidationScheme(X::XercesDOMParser::Val_Never);
    parser.setDoNamespaces(false);
    parser.setDoSchema(false);
    parser.setLoadExternalDTD(false);
    parser.setDisableDefaultEntityResolution(true);
    parser.setCreateEntityReferenceNodes(false);
    X::SecurityManager limits;  // bounds entity expansion
    parser.setSecurityManager(&limits);
    X::HandlerBase errors;  // a fatal error throws SAXParseException; other errors go unreported
    parser.setErrorHandler(&errors);

    X::MemBufInputSource source(reinterpret_cast<const XMLByte*>(text.data()), text.size(), name.c_str());
    parser.parse(source);
    const X::DOMDocument* document = parser.getDocument();
    const X::DOMElement* root = document ? document->getDocumentElement() : nullptr;
    if (!root)
        return CKxError(KxCode::InvalidData, KxFormat("Empty XML file %s", name.c_str()));
    if (X::XMLString::compareIString(root->getTagName(), u"App_JobErrorDecisionRuleList") != 0)
        return CKxError(KxCode::InvalidData,
                        KxFormat("XML file %s has no document root App_JobErrorDecisionRuleList", name.c_str()));
    bool anyRule = false;
    for (const X::DOMNode* child = root->getFirstChild(); child; child = child->getNextSibling()) {
        if (!IsElement(child, u"ruleList"))
            continue;
        anyRule = true;
        SRuleText rule;
        if (ReadRule(static_cast<const X::DOMElement&>(*child), rule))
            rules.push_back(std::move(rule));
    }
    if (!anyRule)
        return CKxError(KxCode::InvalidData, KxFormat("XML file %s has no ruleList node", name.c_str()));
    return CKxError::Success();
}

CKxError ParseRules(const std::string& text, const std::string& name, std::vector<SRuleText>& rules)
{
    if (text.find_first_not_of(" \t\r\n") == std::string::npos)
        return CKxError(KxCode::InvalidData, KxFormat("Empty XML file %s", name.c_str()));
    std::lock_guard lock(g_xercesLock);
    try {
        X::XMLPlatformUtils::Initialize();
    } catch (const X::XMLException& e) {
        return CKxError(KxCode::InvalidData, "Failed to initialise the XML parser: " + Utf8(e.getMessage()));
    } catch (...) {
        return CKxError(KxCode::InvalidData, "Failed to initialise the XML parser");
    }
    CKxError result;
    try {
        result = ParseDocument(text, name, rules);
    } catch (const X::SAXParseException& e) {
        result = CKxError(KxCode::InvalidData,
                          KxFormat("Failed to parse XML file %s: %s (line %llu, column %llu)", name.c_str(),
                                   Utf8(e.getMessage()).c_str(), static_cast<unsigned long long>(e.getLineNumber()),
                                   static_cast<unsigned long long>(e.getColumnNumber())));
    } catch (const X::OutOfMemoryException&) {
        result = CKxError(KxCode::NotEnoughMemory, KxFormat("Failed to parse XML file %s: out of memory", name.c_str()));
    } catch (const X::XMLException& e) {
        result = CKxError(KxCode::InvalidData,
                          KxFormat("Failed to parse XML file %s: %s", name.c_str(), Utf8(e.getMessage()).c_str()));
    } catch (const X::DOMException& e) {
        result = CKxError(KxCode::InvalidData,
                          KxFormat("Failed to parse XML file %s: %s", name.c_str(), Utf8(e.getMessage()).c_str()));
    } catch (...) {
        result = CKxError(KxCode::InvalidData, KxFormat("Failed to parse XML file %s", name.c_str()));
    }
    if (result.IsError())
        rules.clear();
    X::XMLPlatformUtils::Terminate();
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
