#pragma once
// CNewContentQuery: asks the management server for the content added to a subclient since its
// previous backup (the GetModifiedFileListReq request). This agent talks to no management
// server: the base answers that the request is not recognised, which the content code takes
// as "no new content", never as a failure. Tests derive it to give answers.
//
// Ownership: shared; set on the subclient content before Process. Thread: the job's thread.
#include <memory>
#include <string>
#include <vector>

class CNewContentQuery {
public:
    enum class EAnswer {
        NotRecognised,  // the server does not know the request
        Answered,       // `entries` holds the new content (possibly nothing)
        Failed          // the request failed; `result` and `response` tell why
    };

    virtual ~CNewContentQuery() = default;

    // `request` is the XML request text; `result` is the server's result number.
    virtual EAnswer GetModifiedFileList(const std::string& request, std::vector<std::string>& entries, int& result,
                                        std::string& response);

    // <GetModifiedFileListReq clientName=".." appId=".." subclientName=".." fromTime=".."/>
    // with the attribute values XML-escaped.
    static std::string BuildRequest(const std::string& clientName, const std::string& appId,
                                    const std::string& subclientName, long long fromTime);
};

using CNewContentQueryPtr = std::shared_ptr<CNewContentQuery>;
