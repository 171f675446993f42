#include "Scan/ErrorRulesXml.h"

#include "Base/LogWriter.h"
#include "Scan/ZvErrorControl.h"

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

#include <charconv>
#include <mutex>

namespace X = xercesc;

namespace {

using SRuleText = SErrorRuleText;

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

}  // namespace

extern "C" __attribute__((visibility("default"))) void FileScanParseErrorRulesXml(const std::string* text,
                                                                                 const std::string* name,
                                                                                 std::vector<SErrorRuleText>* rules,
                                                                                 CKxError* result)
{
    try {
        *result = ParseRules(*text, *name, *rules);
    } catch (...) {
        rules->clear();
        *result = CKxError(KxCode::InvalidData, "Failed to parse XML file " + *name);
    }
}
