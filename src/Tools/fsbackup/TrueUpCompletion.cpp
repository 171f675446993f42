#include "Tools/fsbackup/TrueUpCompletion.h"

#include "Agent/JobJournal.h"
#include "Base/FXFile.h"
#include "Base/OutputSync.h"
#include "Scan/TrueUpStateManager.h"

#include <nlohmann/json.hpp>

#include <ctime>
#include <sstream>
#include <strings.h>

namespace {
// `asked`: the job's phase arguments carry the true-up flag.
CKxError IsAsked(std::int64_t jobId, bool& asked)
{
    asked = false;
    const std::string path = CJobJournal::PathFor(jobId);
    if (!FXFile::Exists(path))
        return CKxError::Success();
    std::string text;
    KX_RETURN_IF_FAILED(FXFile::ReadWholeFile(path, text), "Failed to read the job-manager journal [%s]", path.c_str());
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
        if (!record.is_object() || record.value("call", "") != "concatPhaseParams")
            continue;
        std::istringstream words(record.value("params", ""));
        for (std::string word; words >> word;)
            asked = asked || ::strcasecmp(word.c_str(), "-trueup") == 0;
    }
    return CKxError::Success();
}
}  // namespace

namespace TrueUpCompletion {

CKxError MarkIfAsked(std::int64_t jobId, const std::string& resultsFolder, bool& marked)
{
    marked = false;
    KX_RETURN_IF_ERROR(IsAsked(jobId, marked));
    if (!marked)
        return CKxError::Success();
    const TrueUpStateManager state(resultsFolder);
    KX_RETURN_IF_ERROR(state.MarkComplete(jobId, static_cast<long long>(std::time(nullptr))));
    KX_RETURN_IF_FAILED(COutputSync::SyncFolder(resultsFolder), "Failed to sync [%s]", resultsFolder.c_str());
    return CKxError::Success();
}

}  // namespace TrueUpCompletion
