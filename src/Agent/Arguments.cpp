#include "Agent/Arguments.h"

#include <cerrno>
#include <cstdlib>

#include "Agent/ApplicationId.h"

namespace {
CKxError ReadValue(const CCommandLineArguments& args, const char* option, std::string& value)
{
    if (!args.GetOption(option))
        return CKxError(KxCode::InvalidParameter, std::string("Option [-") + option + "] is missing");
    if (!args.GetOption(option, value))
        return CKxError(KxCode::InvalidParameter, std::string("Option [-") + option + "] has no value");
    return CKxError::Success();
}

CKxError NullArguments() { return CKxError(KxCode::InvalidParameter, "No command line"); }
}  // namespace

CKxError CArguments::GetJobId(const CCommandLineArguments& args, int64_t& jobId)
{
    std::string text;
    KX_RETURN_IF_ERROR(ReadValue(args, "j", text));
    size_t start = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
    if (text.size() == start || text.find_first_not_of("0123456789", start) != std::string::npos)
        return CKxError(KxCode::InvalidParameter, "Option [-j] value [" + text + "] is not a job id");
    errno = 0;
    long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE)
        return CKxError(KxCode::InvalidParameter, "Option [-j] value [" + text + "] is out of range");
    jobId = value;
    return CKxError::Success();
}

CKxError CArguments::GetApplicationId(const CCommandLineArguments& args, std::string& appId)
{
    std::string text;
    KX_RETURN_IF_ERROR(ReadValue(args, "a", text));
    uint64_t orbundId = 0, appNumber = 0;
    CKxError parsed = ApplicationId::Parse(text, orbundId, appNumber);
    if (parsed.IsError())
        return std::move(parsed).Push("Option [-a] value is not an application id");
    appId = text;
    return CKxError::Success();
}

CKxError CArguments::GetOrbundAndAppId(const CCommandLineArguments& args, uint64_t& orbundId, uint64_t& appNumber)
{
    std::string text;
    KX_RETURN_IF_ERROR(ReadValue(args, "a", text));
    CKxError parsed = ApplicationId::Parse(text, orbundId, appNumber);
    if (parsed.IsError())
        return std::move(parsed).Push("Option [-a] value is not an application id");
    return CKxError::Success();
}

CKxError CArguments::GetClientName(const CCommandLineArguments& args, std::string& clientName)
{
    std::string text;
    KX_RETURN_IF_ERROR(ReadValue(args, "cn", text));
    if (text.empty())
        return CKxError(KxCode::InvalidParameter, "Option [-cn] value is empty");
    clientName = text;
    return CKxError::Success();
}

CKxError CArguments::GetJobId(const CCommandLineArgumentsPtr& args, int64_t& jobId)
{
    return args ? GetJobId(*args, jobId) : NullArguments();
}

CKxError CArguments::GetApplicationId(const CCommandLineArgumentsPtr& args, std::string& appId)
{
    return args ? GetApplicationId(*args, appId) : NullArguments();
}

CKxError CArguments::GetOrbundAndAppId(const CCommandLineArgumentsPtr& args, uint64_t& orbundId, uint64_t& appNumber)
{
    return args ? GetOrbundAndAppId(*args, orbundId, appNumber) : NullArguments();
}

CKxError CArguments::GetClientName(const CCommandLineArgumentsPtr& args, std::string& clientName)
{
    return args ? GetClientName(*args, clientName) : NullArguments();
}

CKxError CArguments::GetDepotnodeName(const CCommandLineArgumentsPtr& args, std::string& server)
{
    if (!args)
        return NullArguments();
    std::string text;
    KX_RETURN_IF_ERROR(ReadValue(*args, "depotnode", text));
    if (text.empty())
        return CKxError(KxCode::InvalidParameter, "Option [-depotnode] value is empty");
    server = text;
    return CKxError::Success();
}
