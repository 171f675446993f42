// `fsweep report` on a full job and its backup phase: every section in the text, and an HTML
// page that an XML parser reads whole, with its charts.
#include "ScanJobFixture.h"

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/PlatformUtils.hpp>

namespace {

using namespace e2e;

// Counts the errors of parsing `text` as XML (well-formedness only) and the elements named `name`.
size_t XmlErrors(const std::string& text, const char* name, size_t& elements)
{
    xercesc::XMLPlatformUtils::Initialize();
    size_t errors = 0;
    {
        xercesc::XercesDOMParser parser;
        parser.setValidationScheme(xercesc::XercesDOMParser::Val_Never);
        parser.setLoadExternalDTD(false);
        parser.setDoNamespaces(true);
        xercesc::HandlerBase handler;
        parser.setErrorHandler(&handler);
        xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(text.data()), text.size(), "page");
        try {
            parser.parse(source);
        } catch (...) {
            ++errors;
        }
        errors += parser.getErrorCount();
        XMLCh* tag = xercesc::XMLString::transcode(name);
        elements = parser.getDocument() ? parser.getDocument()->getElementsByTagName(tag)->getLength() : 0;
        xercesc::XMLString::release(&tag);
    }
    xercesc::XMLPlatformUtils::Terminate();
    return errors;
}

TEST(ReportXmlCheck, RefusesAPageThatIsNotWellFormed)
{
    size_t svgs = 0;
    EXPECT_GT(XmlErrors("<html><body><svg></body></html>", "svg", svgs), 0u);
}

class ReportTest : public ScanJobFixture {};

TEST_F(ReportTest, PrintsEverySectionAndAWellFormedPageWithCharts)
{
    const std::string t = m_tree;
    fs::create_directories(t + "/big");
    fs::create_directories(t + "/small <&>");
    WriteText(t + "/big/a.bin", std::string(300000, 'a'));
    WriteText(t + "/small <&>/b.txt", "b");
    WriteText(t + "/small <&>/fail.txt", "f");
    Content({t});
    Settings("sBackupPhaseFailPattern *fail.txt\n");
    Job(1, 1);

    const std::string page = m_root + "/report.html";
    RunResult run = Run(Binary("fsweep"), {"report", "-vm", "inst", "-j", "1", "--html", page}, false);
    ASSERT_EQ(run.status, 0) << run.err;
    for (const std::string& text : std::vector<std::string>{"Outcome", "scan phase: completed", "backup phase: completed", "Selected", "deletions: 0", "Failures",
          "error 5 (", "in " + t + "/small <&>: 1", "Streams", "collect file 1: ", "Top folders by selected bytes",
          t + "/big: 293.0 KiB", "Step times", "walk: "})
        EXPECT_NE(run.out.find(text), std::string::npos) << "no [" << text << "] in:\n" << run.out;
    EXPECT_LT(run.out.find(t + "/big:"), run.out.find(t + "/small <&>: 1 B")) << run.out;

    size_t svgs = 0;
    const std::string html = Read(page);
    EXPECT_EQ(XmlErrors(html, "svg", svgs), 0u) << html;
    EXPECT_EQ(svgs, 2u);  // the collect files' sizes and the step times
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(html.find("http:"), html.find("http://www.w3.org/"));  // namespaces only, nothing fetched

    EXPECT_EQ(Run(Binary("fsweep"), {"report", "-vm", "inst", "-j", "9"}, false).status, 1);  // no such job
}
}  // namespace
