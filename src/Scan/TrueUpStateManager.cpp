#include "Scan/TrueUpStateManager.h"

#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/LogWriter.h"

#include <cerrno>
#include <charconv>
#include <sstream>
#include <sys/stat.h>

TrueUpStateManager::TrueUpStateManager(std::string resultsFolder)
    : m_path(FXPath::Append(resultsFolder, kFileName))
{
}

std::string TrueUpStateManager::Format(const STrueUpState& state)
{
    std::ostringstream text;
    text << "jobId " << state.jobId << "\nlastSuccessfulJobId " << state.lastSuccessfulJobId << "\njobType "
         << state.jobType << "\nrefTime " << state.refTime << "\nlaptop " << int(state.laptop) << "\nqueryIndexSet "
         << int(state.queryIndexSet) << "\ndcReadyForScan " << int(state.dcReadyForScan) << "\n";
    return text.str();
}

CKxError TrueUpStateManager::Parse(const std::string& text, const std::string& origin, STrueUpState& state)
{
    state = STrueUpState{};
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        const size_t blank = line.find(' ');
        if (line.empty() || blank == std::string::npos)
            continue;
        const std::string key = line.substr(0, blank);
        const std::string value = line.substr(blank + 1);
        long long number64 = 0;
        auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), number64);
        const bool isNumber = ec == std::errc() && end == value.data() + value.size();
        auto take = [&](auto& field) {
            if (!isNumber)
                return false;
            field = static_cast<std::remove_reference_t<decltype(field)>>(number64);
            return true;
        };
        bool ok = true;
        if (key == "jobId")
            ok = take(state.jobId);
        else if (key == "lastSuccessfulJobId")
            ok = take(state.lastSuccessfulJobId);
        else if (key == "jobType")
            ok = take(state.jobType);
        else if (key == "refTime")
            ok = take(state.refTime);
        else if (key == "laptop")
            ok = take(state.laptop);
        else if (key == "queryIndexSet")
            ok = take(state.queryIndexSet);
        else if (key == "dcReadyForScan")
            ok = take(state.dcReadyForScan);
        if (!ok)
            return CKxError(KxCode::InvalidData, KxFormat("Failed to read the true-up state [%s] line %d: [%s] is not a number",
                                                          origin.c_str(), number, line.c_str()));
    }
    return CKxError::Success();
}

CKxError TrueUpStateManager::LoadStateFromDoc(STrueUpState& state, bool& found) const
{
    state = STrueUpState{};
    found = false;
    struct stat status {};
    if (::lstat(m_path.c_str(), &status) != 0) {
        if (errno == ENOENT)
            return CKxError::Success();
        return CKxError::FromErrno(errno, KxFormat("Failed to open the true-up state [%s]", m_path.c_str()));
    }
    std::string text;
    KX_RETURN_IF_FAILED(FXFile::ReadWholeFile(m_path, text), "Failed to read the true-up state [%s]", m_path.c_str());
    KX_RETURN_IF_ERROR(Parse(text, m_path, state));
    found = true;
    return CKxError::Success();
}

CKxError TrueUpStateManager::SaveStatetoDoc(const STrueUpState& state) const
{
    KX_RETURN_IF_FAILED(FXFile::WriteFileAtomically(m_path, Format(state)), "Failed to save the true-up state [%s]",
                        m_path.c_str());
    FSLOG(3, "True-up state saved to [%s]: job %lld, reference time %lld, owed %d", m_path.c_str(), state.jobId,
          state.refTime, state.queryIndexSet ? 1 : 0);
    return CKxError::Success();
}

CKxError TrueUpStateManager::MarkComplete(long long jobId, long long now) const
{
    STrueUpState state;
    bool found = false;
    // A damaged state is replaced: completing is what it would have said anyway.
    if (CKxError loaded = LoadStateFromDoc(state, found); loaded.IsError())
        FSLOG_ERROR("%s; writing a new one", loaded.AsString().c_str());
    state.jobId = jobId;
    state.lastSuccessfulJobId = jobId;
    state.refTime = now;
    state.queryIndexSet = false;
    state.dcReadyForScan = false;
    KX_RETURN_IF_ERROR(SaveStatetoDoc(state));
    FSLOG(0, "TrueUp of job %lld marked complete in [%s]", jobId, m_path.c_str());
    return CKxError::Success();
}
