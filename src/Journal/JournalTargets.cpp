#include "Journal/JournalTargets.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "Agent/AppConfigReader.h"
#include "Agent/InstancePaths.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"

std::string CJournalTargets::RootOfEntry(const std::string& entry)
{
    if (entry.empty() || entry[0] != '/')
        return std::string();
    const size_t wildcard = entry.find_first_of("*?[");
    if (wildcard == std::string::npos)
        return FXPath::TrimTrailingSlashes(entry);
    const size_t slash = entry.rfind('/', wildcard);
    return slash == 0 ? std::string("/") : FXPath::TrimTrailingSlashes(entry.substr(0, slash));
}

CKxError CJournalTargets::Load(std::vector<SJournalTarget>& targets, std::vector<std::string>& refused)
{
    targets.clear();
    refused.clear();
    const std::string folder = CInstancePaths::AppsConfigFolder();
    if (folder.empty())
        return CKxError(KxCode::InvalidParameter, "No instance in focus for the change journals");
    std::vector<std::string> names;
    KX_RETURN_IF_FAILED(FXFile::ListMatchingFiles(folder, "*:*.json", names), "Cannot list [%s]", folder.c_str());
    for (const std::string& name : names) {
        const std::string application = name.substr(0, name.size() - 5);
        AppConfig config;
        if (CAppConfigReader::LoadFile(FXPath::Append(folder, name), config).IsError() || !config.subclient ||
            !config.subclient->changeJournal)
            continue;  // a configuration the scan cannot load does not run scans to journal for
        const size_t colon = application.find(':');
        std::string results = config.client ? config.client->jobResultsDir : std::string();
        if (results.empty())
            results = CInstancePaths::JobResultsFolder();
        SJournalTarget target;
        target.application = application;
        target.resultsFolder = FXPath::Append(FXPath::Append(results, application.substr(0, colon)),
                                              application.substr(colon + 1));
        std::string why;
        for (const std::string& entry : config.subclient->content) {
            SJournalRoot root;
            root.configured = RootOfEntry(entry);
            char real[PATH_MAX];
            if (root.configured.empty())
                why = "content entry [" + entry + "] is not an absolute path";
            else if (!::realpath(root.configured.c_str(), real))
                why = "content root [" + root.configured + "] cannot be resolved: " + std::strerror(errno);
            if (!why.empty())
                break;
            root.real = real;
            target.roots.push_back(std::move(root));
        }
        if (why.empty() && target.roots.empty())
            why = "no content";
        if (!why.empty())
            refused.push_back(application + ": " + why);
        else
            targets.push_back(std::move(target));
    }
    return CKxError::Success();
}
