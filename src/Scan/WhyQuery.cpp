#include "Scan/WhyQuery.h"

#include "Agent/BackupIndexFileReader.h"
#include "Agent/FileBackupIndex.h"
#include "Agent/InstancePaths.h"
#include "Agent/JobJournal.h"
#include "Base/Bag.h"
#include "Base/DecimalText.h"
#include "Base/FXPath.h"
#include "Base/TimeStamp.h"
#include "CollectFile/PathCacheFlatFileIndex.h"
#include "Engine/FindFirstItem.h"
#include "Scan/BackupJobTypeEvaluator.h"
#include "Scan/ResultsFolderLists.h"
#include "Scan/ChangeJournalPoints.h"
#include "Scan/ChangeJournalScan.h"
#include "Scan/SubclientContent.h"
#include "Scan/Unix/skipFS.h"

#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <regex>

namespace {
std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string Time(std::int64_t seconds)
{
    return CTimeStamp(seconds).AsLocalString() + " (" + std::to_string(seconds) + ")";
}

// The calls of one journal; lines that are not JSON are left out.
std::vector<nlohmann::json> Journal(long long jobId)
{
    std::vector<nlohmann::json> calls;
    std::vector<std::string> lines;
    if (CJobJournal::Read(jobId, lines).IsError())
        return calls;
    for (const std::string& line : lines) {
        nlohmann::json call = nlohmann::json::parse(line, nullptr, false);
        if (call.is_object())
            calls.push_back(std::move(call));
    }
    return calls;
}
}  // namespace

CWhyQuery::CWhyQuery(SOptions options) : m_options(std::move(options)) {}
CWhyQuery::~CWhyQuery() = default;

CKxError CWhyQuery::Load()
{
    const size_t colon = m_options.applicationId.find(':');
    if (colon == std::string::npos ||
        !DecimalText::ParseUnsigned(m_options.applicationId.substr(0, colon), m_orbundId) ||
        !DecimalText::ParseUnsigned(m_options.applicationId.substr(colon + 1), m_appNumber))
        return CKxError(KxCode::InvalidParameter, "Invalid application id [" + m_options.applicationId + "]");
    m_resultsFolder = FXPath::Append(FXPath::Append(CInstancePaths::JobResultsFolder(), std::to_string(m_orbundId)),
                                     std::to_string(m_appNumber));

    KX_RETURN_IF_ERROR(LoadReferenceTime());
    CSubclientContent content("", m_options.applicationId, CBackupJobTypeEvaluator::kIncrementalBackup,
                              std::make_shared<CBag>(), CTimeStamp(m_referenceTime));
    KX_RETURN_IF_FAILED(content.Process(), "Failed to load the content of subclient [%s]",
                        m_options.applicationId.c_str());
    m_configuration = content.GetScanContentConfiguration();
    KX_RETURN_IF_ERROR(m_configuration->BuildFilterSetsFromPathLists(m_sets));
    m_content = m_configuration->GetWorkUnitLists().content;
    m_fileSystems = std::make_shared<skipFS>();

    m_record = std::make_shared<CPathCacheFlatFileIndex>();
    if (m_record->SetPreviousBackingFile(FXPath::Append(m_resultsFolder, "DCInc.zvf"), nullptr).IsError())
        m_record.reset();  // no backup took the subclient yet: the next job takes everything
    LoadLastIncremental();
    if (m_options.jobId)
        KX_RETURN_IF_ERROR(LoadJob(*m_options.jobId));
    return CKxError::Success();
}

CKxError CWhyQuery::LoadReferenceTime()
{
    if (m_options.referenceTime) {
        m_referenceTime = *m_options.referenceTime;
        return CKxError::Success();
    }
    // The newest job whose backup phase succeeded: its scan's start time is the "-r" argument
    // it handed its backup phase, and the next incremental's reference.
    static const std::regex kReference(R"((^| )-r ([0-9]+))");
    const std::vector<int64_t> ids = CJobJournal::JobIds();
    for (auto id = ids.rbegin(); id != ids.rend(); ++id) {
        std::int64_t reference = -1;
        bool succeeded = false;
        for (const nlohmann::json& call : Journal(*id)) {
            const std::string name = call.value("call", "");
            std::smatch match;
            const std::string params = call.value("params", "");
            long long seconds = 0;
            if (name == "concatPhaseParams" && std::regex_search(params, match, kReference) &&
                DecimalText::ParseSigned(match[2].str(), seconds))
                reference = seconds;
            if (name == "backupPhase" && call.value("status", 0) == 1)
                succeeded = true;
        }
        if (succeeded && reference >= 0) {
            m_referenceTime = reference;
            return CKxError::Success();
        }
    }
    return CKxError::Success();
}

CKxError CWhyQuery::LoadJob(long long jobId)
{
    const std::string index =
        FXPath::Append(CFileBackupIndex::SubclientFolder(CInstancePaths::IndexFolder(), m_orbundId, m_appNumber),
                       BackupIndexFormat::JobFileName(jobId));
    CBackupIndexFileReader reader;
    SIndexJob header;
    if (reader.Open(index, &header).IsSuccess()) {
        for (bool got = true;;) {
            KX_RETURN_IF_ERROR(reader.Next(got));
            if (!got)
                break;
            const BackupIndexFormat::SLine& line = reader.Line();
            if (line.item.kind == BackupIndexFormat::kFailure)
                m_backupFailed[line.item.path] = line.error;
            else if (line.item.kind != BackupIndexFormat::kDeletion)
                m_backupTook[line.item.path] = line.item.kind;
        }
    }
    // The results folder holds the collect files and failures of the newest scan only.
    const std::vector<int64_t> ids = CJobJournal::JobIds();
    m_jobFilesHere = !ids.empty() && ids.back() == jobId;
    if (!m_jobFilesHere)
        return CKxError::Success();
    CResultsFolderLists::ReadScanFailures(m_resultsFolder,
                                          [this](std::string path, int code) { m_scanFailed[path] = code; });
    CResultsFolderLists::ReadCollectFiles(m_resultsFolder, [this](int number, std::string path) {
        m_collectFile.emplace(std::move(path), number);
    });
    return CKxError::Success();
}

std::string CWhyQuery::Explain(const std::string& path)
{
    struct stat status {};
    std::string answer;
    if (::lstat(path.c_str(), &status) != 0)
        answer = errno == ENOENT ? "does not exist" : std::string("cannot be read: ") + std::strerror(errno);
    else
        answer = Decide(path, status);
    return path + ": " + answer + JobFacts(path) + m_lastIncremental;
}

std::string CWhyQuery::Decide(const std::string& path, const struct stat& status)
{
    const bool folder = S_ISDIR(status.st_mode);
    const std::string* root = nullptr;
    for (const std::string& entry : m_content)
        if (entry == "/" || path == entry || (path.size() > entry.size() && path.compare(0, entry.size(), entry) == 0 &&
                                              path[entry.size()] == '/'))
            if (!root || entry.size() > root->size())
                root = &entry;
    if (!root)
        return "outside the content";
    if (CFilterSet::SExplanation why = m_sets.contentExceptions.Explain(path, folder); why.excluded)
        return "outside the content: excepted from it by " + Quoted(why.filter->GetEntry());
    if (CFilterSet::SExplanation why = m_sets.systemFilters.Explain(path, folder); why.excluded)
        return "excluded by system filter " + Quoted(why.filter->GetEntry());
    std::string exception;
    if (CFilterSet::SExplanation why = m_sets.filters.Explain(path, folder); why.excluded)
        return "excluded by filter " + Quoted(why.filter->GetEntry());
    else if (why.filter && why.exception)
        exception = "; filter " + Quoted(why.filter->GetEntry()) + " does not apply: exception " +
                    Quoted(why.exception->GetEntry());

    bool skip = false, rootSkip = false;
    struct stat ignored {};
    std::string type, rootType;
    if (m_fileSystems->GetFsType(path, skip, ignored, type).IsSuccess() && skip &&
        (m_fileSystems->GetFsType(*root, rootSkip, ignored, rootType).IsError() || rootType != type))
        return "on a skipped file-system type (" + type + ")" + exception;

    if (!m_record)
        return "new to the record: no backup recorded the subclient yet, the next job takes everything" + exception;
    CBackupJobTypeEvaluator evaluator;
    (void)evaluator.Initialize(CBackupJobTypeEvaluator::kIncrementalBackup, CTimeStamp(m_referenceTime), nullptr,
                               m_record);
    auto item = std::make_shared<CFindFirstItem>(path, path, status);
    const bool selected = evaluator.IsSelected(item);
    const std::string times = "modified " + Time(status.st_mtim.tv_sec) + ", changed " + Time(status.st_ctim.tv_sec) +
                              ", reference time " + Time(m_referenceTime);
    if (!selected)
        return "unchanged since the reference time: " + times + exception;
    if (!m_record->Lookup(path, folder ? IDirChange::eFolder : IDirChange::eFile))
        return "new to the record (moved or copied in): " + times + exception;
    const char* which = status.st_mtim.tv_sec >= m_referenceTime ? "changed (modification time)"
                                                                 : "changed (change time)";
    return std::string(which) + ": " + times + exception;
}

void CWhyQuery::LoadLastIncremental()
{
    std::vector<SChangeJournalPoint> points;
    if (CChangeJournalPoints::Load(CChangeJournalScan::PointsPath(m_resultsFolder), points).IsError())
        return;
    for (auto it = points.rbegin(); it != points.rend(); ++it)
        if (!it->full) {
            m_lastIncremental = it->journal ? "; the last incremental found its items by the journal"
                                            : "; the last incremental found its items by a walk (" + it->cause + ")";
            return;
        }
}

std::string CWhyQuery::JobFacts(const std::string& path) const
{
    if (!m_options.jobId)
        return "";
    const std::string job = "job " + std::to_string(*m_options.jobId);
    std::string facts;
    if (auto it = m_scanFailed.find(path); it != m_scanFailed.end())
        facts += "; failed in " + job + "'s scan with error " + std::to_string(it->second) + " (" +
                 std::strerror(it->second) + ")";
    if (auto it = m_backupFailed.find(path); it != m_backupFailed.end())
        facts += "; failed in " + job + " with error " + std::to_string(it->second) + " (" +
                 std::strerror(it->second) + ")";
    if (auto it = m_collectFile.find(path); it != m_collectFile.end())
        facts += "; listed in " + job + "'s collect file number " + std::to_string(it->second);
    else if (m_backupTook.count(path))
        facts += "; " + job + " backed it up";
    else if (m_jobFilesHere || !m_backupFailed.empty() || !m_backupTook.empty())
        facts += "; " + job + " did not list it";
    else
        facts += "; " + job + "'s lists are no longer here";
    return facts;
}
