#pragma once
// The error rules' XML reader, a plug-in of its own (libFileScanXml.so).
//
// Xerces-C, the XML parser, brings a score of libraries with it (a network stack, Unicode
// tables, Kerberos): linked into libFileScan, the dynamic loader mapped and relocated all of
// them at every start of every job, rules or not (about 6 ms and 8 MB). The reader lives in a
// library of its own instead, which ZvErrorControl opens with dlopen only when there is a rules
// text to read; jobs without rules never load Xerces.
//
// FileScanParseErrorRulesXml reads `text` (named `name` in messages) and appends the rules it
// gives to `rules`; *result receives the outcome ("Empty XML file %s", "Failed to parse XML file
// %s: %s", a missing document root or "ruleList" node). Incomplete or disabled rules are skipped
// with their log lines. No exception leaves it.
//
// Thread: any; Xerces' own initialisation is serialised inside.
#include "Base/KxError.h"
#include "Scan/Error_Range.h"

#include <string>
#include <vector>

struct SErrorRuleText {
    std::string pattern;
    int decision = 0;
    bool skipFromReporting = false;
    std::vector<Error_Range> ranges;
};

extern "C" {
void FileScanParseErrorRulesXml(const std::string* text, const std::string* name, std::vector<SErrorRuleText>* rules,
                                CKxError* result);
}
using ParseErrorRulesXmlFn = decltype(&FileScanParseErrorRulesXml);
inline constexpr const char* kParseErrorRulesXmlSymbol = "FileScanParseErrorRulesXml";
inline constexpr const char* kErrorRulesXmlLibrary = "libFileScanXml.so";
