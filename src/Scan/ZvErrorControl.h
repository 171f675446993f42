#pragma once
// ZvErrorControl: the administrator's error-decision rules for one client and application type,
// and the answers the job asks of them about failed items.
//
// A rule (Error_Tab) is a path pattern, error-code ranges, a job decision and a
// skip-from-reporting flag. The rules are tried in the order they were loaded and the first rule
// whose pattern matches the path and one of whose ranges holds the error code answers both
// questions: the decision (GetJobDecisionFor) and whether the failure stays out of the failure
// count (IsSkipFromReporting). Decisions: 0 skip (the failure changes nothing), 1 report (the
// job raises a major event), 2 fail (the phase fails); -1 means no rule matched.
//
// The rules text (docs/error-rules.md):
//
//   <App_JobErrorDecisionRuleList>
//     <ruleList isEnabled="1" pattern="*.lock" jobDecision="0" skipFromReporting="1">
//       <errorCodes allErrorCodes="0" fromValue="13" toValue="13"/>
//     </ruleList>
//   </App_JobErrorDecisionRuleList>
//
// is parsed with Xerces-C's DOM parser without validation, external DTDs or external entities,
// under Xerces' entity-expansion limit. Xerces is initialised around each parse (its
// initialisation is reference counted; a process-wide lock keeps initialisation, parse and
// termination of different threads apart), so no caller has to set it up and no Xerces state
// outlives a parse. Nothing of Xerces crosses this class: every Xerces exception becomes an
// error value here. A rule whose isEnabled is "0", whose decision is not 0, 1 or 2, whose
// pattern does not compile, or that lacks a piece, is left out with a log line; the other rules
// still apply.
//
// Ownership: shared by the failure consumer and the clean-up step that evaluates the failure
// list. Thread: loaded once, before the walk's threads start; the matching members are const
// and safe from every thread; the stored decision has its own lock.
#include "Base/KxError.h"
#include "Scan/ErrorRulesXml.h"
#include "Scan/Error_Tab.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class ZVJobCtrlClient;

class ZvErrorControl {
public:
    using DecisionType = int;
    static constexpr DecisionType kNoDecision = -1;
    static constexpr DecisionType kSkip = 0;
    static constexpr DecisionType kReport = 1;
    static constexpr DecisionType kFailPhase = 2;

    enum PathType { kPathTypeDefault = 1, kPathTypeBackslash = 2, kPathTypeSlash = 3 };
    static constexpr int kEntityClient = 3;  // ZvEntities: the rules of a client
    static constexpr const char* kRulesFileName = "ErrorControlRules.xml";
    // Replaces the XML reader plug-in (ErrorRulesXml.h) with `reader`: for a program that links
    // the reader itself. Call before any rules are parsed.
    static void SetXmlReader(ParseErrorRulesXmlFn reader);

    // Reads one failed-item line: false when the line has no path and error code. The default
    // splits the line at its last `delimiter` into path and decimal code.
    using LineParser = std::function<bool(std::string_view line, char delimiter, std::string& path, long& code)>;

    // No rules; load them with ParseXMLRulesFromXMLString.
    explicit ZvErrorControl(int pathType = kPathTypeSlash);
    // The job's rules: fetched from the job manager for the client (entityType 3) and
    // application type, kept as ErrorControlRules.xml in `folder`, then parsed. No rules
    // defined, or rules that cannot be read, leave the list empty (logged).
    ZvErrorControl(std::shared_ptr<ZVJobCtrlClient> control, int entityType, std::uint64_t clientId,
                   unsigned long appType, const std::string& folder, int pathType);
    // The rules of a file.
    ZvErrorControl(const std::string& rulesFile, int pathType);
    ZvErrorControl(std::shared_ptr<ZVJobCtrlClient> control, const std::string& rulesFile, int pathType);

    // Appends the rules of the text; `name` names the text in log lines and errors. A text that
    // is not XML, is empty, or has another document element fails (code 13) and adds nothing.
    [[nodiscard]] CKxError ParseXMLRulesFromXMLString(const std::string& text, const std::string& name = "string");
    [[nodiscard]] CKxError ParseXMLRulesFromInputFile(const std::string& path);

    bool HasRules() const { return !m_rules.empty(); }
    const std::vector<Error_Tab>& GetRules() const { return m_rules; }

    // Whether the first rule matching the path and code has skip-from-reporting set.
    bool IsSkipFromReporting(std::string_view path, long code, std::string& patternOut) const;
    // The first matching rule's decision, or -1 when none matches.
    DecisionType GetJobDecisionFor(std::string_view path, long code, std::string& patternOut) const;
    // The decision of a list of failed items: 2 as soon as one item gets 2 (errorText names that
    // item and its error), else 1 when an item got 1, else 0 (also when no rule matched any
    // item). -1 without rules or without items: the decision is the caller's. The result is
    // stored for GetStoredJobDecision.
    DecisionType GetJobDecisionFor(const std::vector<std::string>& lines, std::string& errorText,
                                   std::string& patternOut, char delimiter, const LineParser& parse = {});
    // The same over the lines of a file (a missing file: -1).
    DecisionType GetJobDecisionFor(const std::string& file, std::string& errorText, std::string& patternOut,
                                   char delimiter, const LineParser& parse = {});
    // The last list evaluation's result: false (decision -1, empty texts, code 0, isDefault
    // true) when there was none. isDefault: no rule matched any item.
    bool GetStoredJobDecision(DecisionType& decision, std::string& file, std::string& pattern, long& code,
                              bool& isDefault) const;
    // Logs every rule; done after loading when the agent setting nDumpErrorControl is 1.
    void DumpErrorTab() const;

    // "<path>: <system error text>", the text an operator reads for a failed item.
    static std::string ErrorText(std::string_view path, long code);

private:
    struct SStored {
        DecisionType decision = kNoDecision;
        std::string file;
        std::string pattern;
        long code = 0;
        bool isDefault = true;
        bool valid = false;
    };

    DecisionType Evaluate(const std::function<bool(std::string&)>& nextLine, const std::string& file,
                          std::string& errorText, std::string& patternOut, char delimiter, const LineParser& parse);
    const Error_Tab* FirstMatch(std::string_view path, long code, std::string& patternOut) const;
    void LoadFromFile(const std::string& rulesFile);

    int m_pathType;
    std::shared_ptr<ZVJobCtrlClient> m_control;
    std::vector<Error_Tab> m_rules;
    mutable std::mutex m_storedLock;  // guards m_stored
    SStored m_stored;
};

using ZvErrorControlPtr = std::shared_ptr<ZvErrorControl>;
