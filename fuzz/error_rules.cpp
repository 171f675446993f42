// The administrator's error rules (XML): every text loads or is refused as a value, and the
// rules it gives answer for a few failed items.
#include "FuzzScratch.h"
#include "Scan/ZvErrorControl.h"

#include <xercesc/util/PlatformUtils.hpp>

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzScratch::Initialize();
    // Held for the run, so that the parse's own initialisation is a count, not a set-up per input.
    xercesc::XMLPlatformUtils::Initialize();
    ZvErrorControl::SetXmlReader(&FileScanParseErrorRulesXml);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (int pathType : {ZvErrorControl::kPathTypeSlash, ZvErrorControl::kPathTypeBackslash}) {
        ZvErrorControl rules(pathType);
        if (rules.ParseXMLRulesFromXMLString(text, "fuzz.xml").IsError() && rules.HasRules())
            std::abort();  // a refused text adds no rule
        std::string pattern, errorText;
        for (const char* path : {"/data/a.lock", "C:\\data\\a.lock", "", "/"})
            for (long code : {-1L, 0L, 13L, 2147483647L})
                if (rules.IsSkipFromReporting(path, code, pattern) &&
                    rules.GetJobDecisionFor(path, code, pattern) == ZvErrorControl::kNoDecision)
                    std::abort();  // both questions are answered by the same first matching rule
        (void)rules.GetJobDecisionFor(std::vector<std::string>{"/data/a.lock:13", "/x:5", "no code"}, errorText,
                                      pattern, ':');
    }
    return 0;
}
