#include "Scan/NewContentQuery.h"

namespace {

std::string XmlAttribute(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out.push_back(c);
        }
    }
    return out;
}

}  // namespace

CNewContentQuery::EAnswer CNewContentQuery::GetModifiedFileList(const std::string& request,
                                                                std::vector<std::string>& entries, int& result,
                                                                std::string& response)
{
    (void)request;
    entries.clear();
    result = 0;
    response.clear();
    return EAnswer::NotRecognised;
}

std::string CNewContentQuery::BuildRequest(const std::string& clientName, const std::string& appId,
                                           const std::string& subclientName, long long fromTime)
{
    return "<GetModifiedFileListReq clientName=\"" + XmlAttribute(clientName) + "\" appId=\"" + XmlAttribute(appId) +
           "\" subclientName=\"" + XmlAttribute(subclientName) + "\" fromTime=\"" + std::to_string(fromTime) + "\"/>";
}
