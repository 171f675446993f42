#include "Scan/SubclientContent.h"

#include "Agent/ApplicationId.h"
#include "Agent/InstancePaths.h"
#include "Base/FXPath.h"
#include "Base/FunctionTrace.h"
#include "Base/LogWriter.h"
#include "Engine/WorkUnit.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/ScannerSettings.h"
#include "Scan/SubclientContentPrivate.h"
#include "Scan/Unix/SubclientContentUnix.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <strings.h>

namespace Id = SXScannerConfigurationBagId;

namespace {

constexpr long kEmptyContent = 4306;
constexpr const char kContentFileMarker[] = "<INCLUDE>";

std::string TrimRight(const std::string& text, const char* characters)
{
    const size_t end = text.find_last_not_of(characters);
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

std::string Trim(const std::string& text, const char* characters)
{
    const size_t begin = text.find_first_not_of(characters);
    if (begin == std::string::npos)
        return std::string();
    return text.substr(begin, text.find_last_not_of(characters) - begin + 1);
}

// A status line as the comparison reads it: blanks, then line ends, trimmed from both sides.
std::string StatusField(const std::string& text) { return Trim(Trim(text, " \t\f\v\r\n"), "\r\n"); }

std::vector<std::string> SplitFields(const std::string& line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t at = line.find("||", start);
        if (at == std::string::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, at - start));
        start = at + 2;
    }
}

// Sorted copies compared entry by entry; the first difference is logged with `format`.
bool ListsDiffer(std::vector<std::string> previous, std::vector<std::string> current, const char* format)
{
    std::sort(previous.begin(), previous.end());
    std::sort(current.begin(), current.end());
    for (size_t i = 0; i < previous.size() && i < current.size(); ++i)
        if (previous[i] != current[i]) {
            FSLOG(0, format, previous[i].c_str(), current[i].c_str());
            return true;
        }
    return false;
}

std::vector<std::string> StatusForm(const std::vector<std::string>& entries)
{
    std::vector<std::string> out;
    out.reserve(entries.size());
    for (const std::string& entry : entries)
        out.push_back(StatusField(entry));
    return out;
}

}  // namespace

CSubclientContent::CSubclientContent(std::string clientName, std::string applicationId, unsigned backupLevel,
                                     CBagPtr bag, CTimeStamp referenceTime)
    : m_clientName(std::move(clientName)), m_applicationIdText(std::move(applicationId)), m_backupLevel(backupLevel),
      m_bag(bag ? std::move(bag) : std::make_shared<CBag>()), m_referenceTime(referenceTime),
      m_configuration(std::make_shared<CScanContentConfiguration>()),
      m_newContentQuery(std::make_shared<CNewContentQuery>())
{
}

CSubclientContent::~CSubclientContent() = default;

bool CSubclientContent::IsValidLoadType(int loadType)
{
    return loadType >= LoadTypeContent && loadType <= LoadTypeCriteriaContent;
}

const char* CSubclientContent::LoadTypeToString(int loadType)
{
    switch (loadType) {
    case LoadTypeContent: return "content";
    case LoadTypeFilter: return "filter";
    case LoadTypeException: return "exception";
    case LoadTypeCriteriaContent: return "criteria content";
    default: return "invalid";
    }
}

void CSubclientContent::SetDenylistFiles(std::string primary, std::string legacy)
{
    m_denylistFile = std::move(primary);
    m_legacyDenylistFile = std::move(legacy);
}

void CSubclientContent::SetCacheDBBackup()
{
    m_cacheDBBackup = true;
    CScannerSettings::Put(*m_bag, Id::idCacheDBBackup, true);
}

CKxError CSubclientContent::InitializePrivate()
{
    SetPrivate(std::make_unique<CSubclientContentUnix>(this));
    return CKxError::Success();
}

void CSubclientContent::SetPrivate(std::unique_ptr<CSubclientContentPrivate> platform)
{
    m_private = std::move(platform);
}

CKxError CSubclientContent::Process()
{
    FSTRACE();
    KX_RETURN_IF_FAILED(Initialize(), "Initialize failed");
    KX_RETURN_IF_FAILED(LoadContent(), "Failed to load subclient content");
    KX_RETURN_IF_FAILED(LoadScanContentExceptions(), "GetScanContentNoDirs failed");
    KX_RETURN_IF_FAILED(LoadFilterContent(), "GetNoNamesAndYesNames failed");
    KX_RETURN_IF_FAILED(LoadSpecialContentFilters(), "LoadSpecialContentFilters failed");
    KX_RETURN_IF_FAILED(LoadSpecialContentFilterExceptions(), "LoadSpecialContentFilterExceptions failed");
    KX_RETURN_IF_FAILED(LoadSystemFilters(), "LoadSystemFilters failed");
    KX_RETURN_IF_FAILED(LoadAndParseBlackListScanContent(), "LoadAndParseBlackListScanContent failed");
    KX_RETURN_IF_FAILED(ReviewScanContent(), "ReviewScanContent failed");
    KX_RETURN_IF_FAILED(PostProcess(), "PostProcess failed");
    return CKxError::Success();
}

CKxError CSubclientContent::Initialize()
{
    FSTRACE();
    if (!m_private)
        KX_RETURN_IF_FAILED(InitializePrivate(), "InitializePrivate failed");
    m_configuration->Clear();
    m_failedContentFiles.clear();
    m_contentProcessingStopped = false;

    m_applicationId = std::make_shared<ApplicationId>(m_applicationIdText);
    m_subclient = m_applicationId->getSubclient();
    if (!m_subclient)
        return m_applicationId->getLastError().Push("Error getting sub-client");
    KX_RETURN_IF_FAILED(m_subclient->getSubclientName(m_subclientName), "Error getting the sub-client name");
    KX_RETURN_IF_FAILED(LoadSubClientConfiguration(), "Sub-client configuration load failed, AppId=%s",
                        m_applicationIdText.c_str());

    bool isDefault = false;
    if (CKxError e = m_subclient->isDefaultSubclient(isDefault); e.IsError())
        FSLOG(0, "isDefaultSubclient failed, taking the subclient as not default: %s", e.AsString().c_str());
    m_defaultSubclient = isDefault;
    CScannerSettings::Put(*m_bag, Id::idIsDefaultSubclient, m_defaultSubclient);

    m_loadContentFile = m_bag->GetBool(Id::idLoadContentFile);
    m_disableSkipOverlapContent = m_bag->GetBool(Id::idDisableSkipOverlapContent);
    m_cacheDBBackup = m_bag->GetBool(Id::idCacheDBBackup);
    long long baseVersion = 11;
    if (CScannerSettings::ReadInteger(*m_bag, Id::idInstanceBaseVersion, baseVersion) && baseVersion >= 0)
        m_instanceBaseVersion = static_cast<unsigned>(baseVersion);
    FSLOG(0, "Subclient [%s] of [%s], client [%s], backup level %u, reference time %lld, base version %u",
          m_subclientName.c_str(), m_applicationIdText.c_str(), m_clientName.c_str(), m_backupLevel,
          static_cast<long long>(m_referenceTime.Seconds()), m_instanceBaseVersion);

    KX_RETURN_IF_FAILED(m_private->Initialize(), "Platform initialization failed");
    return CKxError::Success();
}

CKxError CSubclientContent::LoadContent()
{
    FSTRACE();
    KX_RETURN_IF_FAILED(LoadScanContent(), "GetScanContentDirNames failed");
    if (CKxError e = LoadContent_ExpandSymbolicLink(); e.IsError())
        FSLOG(0, "Symbolic link content expansion failed, content is left as it is: %s", e.AsString().c_str());
    KX_RETURN_IF_FAILED(LoadNewContent(), "LoadNewContent failed");
    return CKxError::Success();
}

CKxError CSubclientContent::LoadContent_ExpandSymbolicLink() { return m_private->LoadContent_ExpandSymbolicLink(); }

CKxError CSubclientContent::LoadSubClientConfiguration() { return m_private->LoadSubClientConfiguration(); }

template <typename Parse>
void CSubclientContent::ParseEach(const std::vector<std::string>& entries, const char* name,
                                  std::vector<std::string>& out, Parse parse, bool stopWithContent)
{
    for (const std::string& entry : entries) {
        if (stopWithContent && m_contentProcessingStopped)
            break;
        if (CKxError e = parse(entry, out); e.IsError())
            FSLOG_ERROR("%s failed, Item=%s, error=%s", name, entry.c_str(), e.AsString().c_str());
    }
}

CKxError CSubclientContent::LoadScanContent()
{
    FSTRACE();
    std::vector<std::string> dirnames;
    KX_RETURN_IF_FAILED(m_subclientConf->dirnames(dirnames), "dirnames() failed, sub-client=%s",
                        m_subclientName.c_str());
    if (dirnames.empty())
        return CKxError(kEmptyContent, KxFormat("Nothing to backup, sub-client=%s", m_subclientName.c_str()));
    m_private->ClearFilterContentList();
    std::vector<std::string>& list = m_private->GetFilterContentList();
    ParseEach(
        dirnames, "ParseScanContent", list,
        [this](const std::string& entry, std::vector<std::string>& out) { return ParseScanContent(entry, out); },
        true);
    KX_RETURN_IF_ERROR(ProcessFilterContent(kContentLabel, list));
    m_private->ClearFilterContentList();
    return CKxError::Success();
}

CKxError CSubclientContent::LoadScanContentExceptions()
{
    FSTRACE();
    std::vector<std::string> nodirs;
    KX_RETURN_IF_FAILED(m_subclientConf->nodirs(nodirs), "nodirs() failed, sub-client=%s", m_subclientName.c_str());
    FSLOG(0, "Is default subclient %d", m_defaultSubclient ? 1 : 0);
    if (m_disableSkipOverlapContent) {
        FSLOG(0, "Will not skip content of other Subclients with overlapping content");
        return CKxError::Success();
    }
    m_private->ClearFilterContentList();
    std::vector<std::string>& list = m_private->GetFilterContentList();
    ParseEach(nodirs, "ParseScanContentExceptions", list,
              [this](const std::string& entry, std::vector<std::string>& out) {
                  return ParseScanContentExceptions(entry, out);
              });
    KX_RETURN_IF_ERROR(ProcessFilterContent(kContentExceptionLabel, list));
    m_private->ClearFilterContentList();
    return CKxError::Success();
}

CKxError CSubclientContent::LoadNewContent()
{
    FSTRACE();
    if (m_referenceTime.Seconds() == 0) {
        FSLOG(3, "No reference time: no new content is asked for");
        return CKxError::Success();
    }
    const std::string request = CNewContentQuery::BuildRequest(m_clientName, m_applicationIdText, m_subclientName,
                                                               m_referenceTime.Seconds());
    FSLOG(5, "GetModifiedFileListReq request [%s]", request.c_str());
    std::vector<std::string> entries;
    int result = 0;
    std::string response;
    switch (m_newContentQuery->GetModifiedFileList(request, entries, result, response)) {
    case CNewContentQuery::EAnswer::NotRecognised:
        FSLOG(0, "Hubrixe failed to recognize GetModifiedFileListReq request, new content feature disabled for "
                 "this scan");
        return CKxError::Success();
    case CNewContentQuery::EAnswer::Failed:
        FSLOG(0, "GetModifiedFileListReq failed, result=%d, response=%s, defaulting to no new subclient content "
                 "added since previous backup",
              result, response.c_str());
        return CKxError::Success();
    case CNewContentQuery::EAnswer::Answered:
        break;
    }
    if (entries.empty()) {
        FSLOG(0, "GetModifiedFileListReq response empty, no new subclient content added since previous backup, "
                 "result=%d",
              result);
        return CKxError::Success();
    }
    std::vector<std::string> parsed;
    for (const std::string& entry : entries) {
        FSLOG(0, "Discovered new content [%s]", entry.c_str());
        if (CKxError e = ParseNewContent(entry, parsed); e.IsError())
            FSLOG_ERROR("ParseNewContent failed, Item=%s, error=%s", entry.c_str(), e.AsString().c_str());
    }
    const size_t before = m_configuration->GetNewContent().size();
    m_private->HandOn(CScanContentConfiguration::NewContent, parsed);
    FSLOG(0, "%llu new contents discovered",
          static_cast<unsigned long long>(m_configuration->GetNewContent().size() - before));
    return CKxError::Success();
}

CKxError CSubclientContent::LoadFilterContent()
{
    FSTRACE();
    using Parser = CKxError (CSubclientContent::*)(const std::string&, std::vector<std::string>&);
    struct SPass {
        int kind;
        const char* kindName;
        Parser parse;
        const char* parseName;
        const char* label;
    };
    static const SPass kPasses[] = {
        {SubclientConf::YESDIRS, "YESDIRS", &CSubclientContent::ParseFilterExceptions, "ParseFilterExceptions",
         kFolderFilterExceptionLabel},
        {SubclientConf::NODIRS, "NODIRS", &CSubclientContent::ParseFilters, "ParseFilters", kFolderFilterLabel},
        {SubclientConf::YESFILES, "YESFILES", &CSubclientContent::ParseScanContent, "ParseScanContent",
         kNameContentLabel},
        {SubclientConf::NOFILES, "NOFILES", &CSubclientContent::ParseFilters, "ParseFilters", kNameFilterLabel},
    };
    for (const SPass& pass : kPasses) {
        std::vector<std::string> entries;
        KX_RETURN_IF_FAILED(m_subclientConf->getFilters2(pass.kind, entries), "getFilters2(%s) failed", pass.kindName);
        m_private->ClearFilterContentList();
        std::vector<std::string>& list = m_private->GetFilterContentList();
        ParseEach(entries, pass.parseName, list, [this, &pass](const std::string& entry, std::vector<std::string>& out) {
            return (this->*pass.parse)(entry, out);
        });
        if (pass.kind == SubclientConf::NODIRS && m_bag->GetBool(Id::idLaptopClient)) {
            // Sync conflicts, the sync cache and recovered fragments are never worth a backup
            // on a personal workstation.
            for (const char* entry : {"*.zvconflict*", "*.conflict*", "/**/.quillbox.cache/", "~*", "/**/LostAndFound/"})
                list.push_back(entry);
        }
        KX_RETURN_IF_ERROR(ProcessFilterContent(pass.label, list));
        m_private->ClearFilterContentList();
    }
    return CKxError::Success();
}

CKxError CSubclientContent::LoadSpecialContentFilters() { return m_private->LoadSpecialContentFilters(); }

CKxError CSubclientContent::LoadSpecialContentFilterExceptions()
{
    return m_private->LoadSpecialContentFilterExceptions();
}

CKxError CSubclientContent::LoadSystemFilters() { return m_private->LoadSystemFilters(); }

CKxError CSubclientContent::LoadSystemFilters(CSystemFilterEnumerator& enumerator)
{
    FSTRACE();
    std::vector<std::string> filters, exceptions;
    std::string entry;
    bool isException = false;
    while (enumerator.Next(entry, isException)) {
        if (isException) {
            if (CKxError e = ParseSystemFilterExceptions(entry, exceptions); e.IsError())
                FSLOG_ERROR("ParseSystemFilterExceptions failed, Item=%s, error=%s", entry.c_str(), e.AsString().c_str());
        } else if (CKxError e = ParseSystemFilters(entry, filters); e.IsError()) {
            FSLOG_ERROR("ParseSystemFilters failed, Item=%s, error=%s", entry.c_str(), e.AsString().c_str());
        }
    }
    m_private->HandOn(CScanContentConfiguration::SystemFilters, filters);
    m_private->HandOn(CScanContentConfiguration::SystemFiltersExceptions, exceptions);
    return CKxError::Success();
}

CKxError CSubclientContent::LoadAndParseBlackListScanContent() { return m_private->LoadAndParseBlackListScanContent(); }

CKxError CSubclientContent::ReviewScanContent() { return m_private->ReviewScanContent(); }

CKxError CSubclientContent::PostProcess()
{
    FSTRACE();
    if (m_defaultSubclient)
        KX_RETURN_IF_FAILED(m_private->PostProcess_DefaultSC(), "PostProcess for DefaultSC failed");
    KX_RETURN_IF_FAILED(PostProcessFilterBlock(), "PostProcessFilterBlock failed");
    m_configuration->Dump();
    return CKxError::Success();
}

CKxError CSubclientContent::PostProcessFilterBlock()
{
    FSTRACE();
    // The laptop defaults, name filters and content files may repeat an entry; each list
    // keeps its first occurrence so that counts compare equal from job to job.
    using L = CScanContentConfiguration;
    for (L::EList which : {L::ScanContentExceptions, L::Filters, L::FilterExceptions, L::SystemFilters,
                           L::SystemFiltersExceptions}) {
        std::vector<std::string>& list = m_configuration->List(which);
        std::vector<std::string> kept;
        std::set<std::string> seen;
        for (std::string& entry : list) {
            if (seen.insert(entry).second)
                kept.push_back(std::move(entry));
            else
                FSLOG(3, "Dropping duplicate %s entry [%s]", L::ListName(which), entry.c_str());
        }
        list = std::move(kept);
    }
    L::SFilterSets sets;
    KX_RETURN_IF_FAILED(m_configuration->BuildFilterSetsFromPathLists(sets, m_bag->GetBool(Id::idForceInsensitiveFilterForWildCard)),
                        "BuildFilterSetsFromPathLists failed");
    return CKxError::Success();
}

void CSubclientContent::PreProcessFilterItem(const std::string& entry, std::string& item, bool& skip,
                                             bool markMigrationAssistant)
{
    item = TrimRight(entry, "\t\r\n");
    skip = item.empty();
    if (!skip && markMigrationAssistant && CContentPreprocessor::IsMigrationAssistantEntry(item)) {
        FSLOG(0, "Scan content includes the MigrationAssistant content [%s]", item.c_str());
        m_configuration->SetIncludesMigrationAssistantContent(true);
        skip = true;
    }
}

CKxError CSubclientContent::LoadIfContentFile(const std::string& item, int loadType, std::vector<std::string>& out,
                                              bool& handled)
{
    handled = false;
    if (!m_loadContentFile)
        return CKxError::Success();
    CKxError e = LoadContentFile(item, handled, loadType, out);
    if (e.IsError())
        handled = true;
    return e;
}

CKxError CSubclientContent::ParseScanContent(const std::string& entry, std::vector<std::string>& out)
{
    std::string item;
    bool skip = false;
    PreProcessFilterItem(entry, item, skip, true);
    if (skip || m_contentProcessingStopped)
        return CKxError::Success();
    bool handled = false;
    CKxError e = LoadIfContentFile(item, LoadTypeContent, out, handled);
    if (handled)
        return e;
    return m_private->ParseScanContent(item, out);
}

CKxError CSubclientContent::ParseScanContentExceptions(const std::string& entry, std::vector<std::string>& out)
{
    std::string item;
    bool skip = false;
    PreProcessFilterItem(entry, item, skip, false);
    return skip ? CKxError::Success() : m_private->ParseScanContentExceptions(item, out);
}

CKxError CSubclientContent::ParseNewContent(const std::string& entry, std::vector<std::string>& out)
{
    std::string item;
    bool skip = false;
    PreProcessFilterItem(entry, item, skip, false);
    return skip ? CKxError::Success() : m_private->ParseNewContent(item, out);
}

CKxError CSubclientContent::ParseFilters(const std::string& entry, std::vector<std::string>& out)
{
    std::string item;
    bool skip = false;
    PreProcessFilterItem(entry, item, skip, true);
    if (skip)
        return CKxError::Success();
    bool handled = false;
    CKxError e = LoadIfContentFile(item, LoadTypeFilter, out, handled);
    if (handled)
        return e;
    return m_private->ParseFilters(item, out);
}

CKxError CSubclientContent::ParseFilterExceptions(const std::string& entry, std::vector<std::string>& out)
{
    std::string item;
    bool skip = false;
    PreProcessFilterItem(entry, item, skip, true);
    if (skip)
        return CKxError::Success();
    bool handled = false;
    CKxError e = LoadIfContentFile(item, LoadTypeException, out, handled);
    if (handled)
        return e;
    return m_private->ParseFilterExceptions(item, out);
}

CKxError CSubclientContent::ParseSystemFilters(const std::string& entry, std::vector<std::string>& out)
{
    std::string item;
    bool skip = false;
    PreProcessFilterItem(entry, item, skip, false);
    return skip ? CKxError::Success() : m_private->ParseSystemFilters(item, out);
}

CKxError CSubclientContent::ParseSystemFilterExceptions(const std::string& entry, std::vector<std::string>& out)
{
    std::string item;
    bool skip = false;
    PreProcessFilterItem(entry, item, skip, false);
    return skip ? CKxError::Success() : m_private->ParseSystemFilterExceptions(item, out);
}

CKxError CSubclientContent::ParseCriteriaContent(const std::string& entry, std::vector<std::string>& out)
{
    std::string item;
    bool skip = false;
    PreProcessFilterItem(entry, item, skip, false);
    if (skip)
        return CKxError::Success();
    bool handled = false;
    CKxError e = LoadIfContentFile(item, LoadTypeCriteriaContent, out, handled);
    if (handled)
        return e;
    // Criteria content names paths to select, so it is translated as content.
    return m_private->ParseScanContent(item, out);
}

CContentPreprocessorPtr CSubclientContent::GetContentPreprocessor() { return m_private->GetContentPreprocessor(); }

CSystemFilterEnumeratorPtr CSubclientContent::GetSystemFilterEnumerator()
{
    auto enumerator = std::make_shared<CSystemFilterEnumerator>();
    std::vector<std::string> folders;
    std::string resultsFolder;
    if (m_applicationId)
        if (std::shared_ptr<Client> client = m_applicationId->getClient())
            if (client->getJobResultsDir(resultsFolder).IsError())
                resultsFolder.clear();
    if (resultsFolder.empty())
        resultsFolder = CInstancePaths::JobResultsFolder();
    folders.push_back(resultsFolder);
    folders.push_back(CInstancePaths::TmpFolder());

    std::vector<std::string> roots;
    for (auto list : {CScanContentConfiguration::ScanContent, CScanContentConfiguration::NewContent})
        for (const std::string& entry : m_configuration->List(list)) {
            std::string root = CWorkUnit::GetWalkRootOf(entry);
            if (!root.empty())
                roots.push_back(std::move(root));
        }
    for (const std::string& folder : folders) {
        if (folder.empty())
            continue;
        // Only where the walk would meet it: a filter elsewhere costs every item a test.
        const bool underContent = std::any_of(roots.begin(), roots.end(),
                                              [&folder](const std::string& root) { return FXPath::IsUnder(folder, root); });
        if (underContent)
            enumerator->Add(FXPath::TrimTrailingSlashes(folder) + "/", false);
    }
    return enumerator;
}

CKxError CSubclientContent::LoadContentFile(const std::string& entry, bool& isContentFile, int loadType,
                                            std::vector<std::string>& out)
{
    isContentFile = false;
    if (!IsValidLoadType(loadType))
        return CKxError(KxCode::InvalidParameter, KxFormat("Invalid content file load type [%d]", loadType));

    const size_t markerLength = sizeof(kContentFileMarker) - 1;
    const size_t start = !entry.empty() && entry.front() == '/' ? 1 : 0;
    if (entry.size() <= start + markerLength ||
        ::strncasecmp(entry.c_str() + start, kContentFileMarker, markerLength) != 0)
        return CKxError::Success();
    isContentFile = true;
    const std::string file = entry.substr(start + markerLength);

    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) {
        const int error = errno;
        FSLOG_ERROR("ContentFile %s does not exist, error=%s", file.c_str(), std::strerror(error));
        m_failedContentFiles.push_back(file);
        return CKxError(KxCode::NotFound, KxFormat("ContentFile %s does not exist, error=%s", file.c_str(),
                                                   std::strerror(error)));
    }
    if (!S_ISREG(status.st_mode)) {
        FSLOG_ERROR("ContentFile %s is not a regular file.", file.c_str());
        return CKxError(KxCode::InvalidParameter, KxFormat("ContentFile %s is not a regular file.", file.c_str()));
    }
    FSLOG(0, "Detected content file %s, loadType=[%s]", file.c_str(), LoadTypeToString(loadType));

    // A content file may name other content files, but never one that is being read.
    const std::string identity = std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
    if (!m_openContentFiles.insert(identity).second)
        return CKxError(KxCode::InvalidParameter, KxFormat("ContentFile %s includes itself", file.c_str()));

    std::ifstream in(file, std::ios::binary);
    if (!in) {
        m_openContentFiles.erase(identity);
        return CKxError::FromErrno(errno, KxFormat("Failed to open content file [%s]", file.c_str()));
    }
    static const char* const kFailureNames[] = {"", "ParseScanContent", "ParseFilterContent", "ParseExceptionContent",
                                                "ParseCriteriaContent"};
    for (std::string line; std::getline(in, line);) {
        if (loadType == LoadTypeContent && m_contentProcessingStopped)
            break;
        line = TrimRight(line, "\t\r\n");
        if (line.empty())
            continue;
        if (CKxError e = ParseLine(loadType, line, out); e.IsError())
            FSLOG_ERROR("%s failed, Item=%s, error=%s", kFailureNames[loadType], line.c_str(), e.AsString().c_str());
    }
    m_openContentFiles.erase(identity);
    return CKxError::Success();
}

CKxError CSubclientContent::ParseLine(int loadType, const std::string& line, std::vector<std::string>& out)
{
    switch (loadType) {
    case LoadTypeContent: return ParseScanContent(line, out);
    case LoadTypeFilter: return ParseFilters(line, out);
    case LoadTypeException: return ParseFilterExceptions(line, out);
    default: return ParseCriteriaContent(line, out);
    }
}

CKxError CSubclientContent::ProcessFilterContent(const std::string& label, const std::vector<std::string>& list)
{
    return m_private->ProcessFilterContent(label, list);
}

CKxError CSubclientContent::SaveSubclientStatus(const std::string& path) const
{
    return m_private->SaveSubclientStatus(path);
}

CKxError CSubclientContent::HasSubclientContentChanged(const std::string& path, bool& changed) const
{
    FSTRACE();
    changed = false;
    struct stat status {};
    std::ifstream in;
    if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode))
        in.open(path, std::ios::binary);
    if (!in.is_open() || !in) {
        FSLOG(0, "Failed to open content file [%s]", path.c_str());
        return CKxError::Success();
    }
    std::vector<std::string> content, filters, exceptions;
    for (std::string line; std::getline(in, line);) {
        line = StatusField(line);
        if (line.empty())
            continue;
        const std::vector<std::string> fields = SplitFields(line);
        if (fields.size() < 3)
            continue;
        if (::strcasecmp(fields[0].c_str(), "ClientContent") == 0) {
            if (fields[1] == "F")
                content.push_back(StatusField(fields[2]));
            else
                FSLOG(0, "Unprocessed ClientContent line: %s", line.c_str());
        } else if (::strcasecmp(fields[0].c_str(), "ClientFilters") == 0) {
            if (fields[1] == "F")
                filters.push_back(StatusField(fields[2]));
            else if (fields[1] == "E")
                exceptions.push_back(StatusField(fields[2]));
            else
                FSLOG(0, "Unprocessed ClientFilters line: %s", line.c_str());
        }
    }

    // The current lists in the form a status line keeps them, so that an entry with blanks
    // at its ends does not count as a change on every job.
    const std::vector<std::string> currentContent = StatusForm(m_configuration->GetScanContent());
    const std::vector<std::string> currentFilters = StatusForm(m_configuration->GetFilters());
    const std::vector<std::string> currentExceptions = StatusForm(m_configuration->GetFilterExceptions());
    if (content.size() != currentContent.size() || filters.size() != currentFilters.size() ||
        exceptions.size() != currentExceptions.size()) {
        FSLOG(0, "Content counts differ: content %zu/%zu, filters %zu/%zu, filter exceptions %zu/%zu", content.size(),
              currentContent.size(), filters.size(), currentFilters.size(), exceptions.size(),
              currentExceptions.size());
        changed = true;
        return CKxError::Success();
    }
    changed = ListsDiffer(content, currentContent, "Content Mismatch. Previous [%s] Current [%s]") ||
              ListsDiffer(filters, currentFilters, "Filter Mismatch. Previous [%s] Current [%s]") ||
              ListsDiffer(exceptions, currentExceptions, "Filter Exception Mismatch. Previous [%s] Current [%s]");
    return CKxError::Success();
}
