#pragma once
// CWhyQuery: answers an operator's "why was this path (not) backed up?" with the decisions the
// scan itself makes, in the order the scan makes them: the subclient's content and content
// exceptions, system filters, filters and their exceptions (CSubclientContent and CFilterSet, as
// the walk compiles them), the file-system types a walk never enters (skipFS), then the backup
// type evaluator of an incremental (CBackupJobTypeEvaluator) against the subclient's record
// (DCInc.zvf) and reference time. The decision is the one the next incremental would make.
//
// With a job id it also says what that job did with the path: what its backup phase took or
// failed on (the backup index), what its scan failed on (scan_Failures.zvf) and which of its
// collect files listed it, while the results folder still holds that job's files.
//
// The reference time is the one the job manager hands the next incremental: the "-r" phase
// argument of the newest job whose backup phase succeeded, unless the caller gives one.
//
// Thread: one object, one thread. The process must be focused on the instance.
#include "Base/KxError.h"
#include "Engine/FilterSet.h"
#include "Scan/ScanContentConfiguration.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CPathCacheFlatFileIndex;
class skipFS;

class CWhyQuery {
public:
    struct SOptions {
        std::string applicationId;  // "<orbundId>:<appNumber>"
        std::optional<long long> jobId;
        std::optional<std::int64_t> referenceTime;  // seconds since the epoch
    };

    explicit CWhyQuery(SOptions options);
    ~CWhyQuery();
    CWhyQuery(const CWhyQuery&) = delete;
    CWhyQuery& operator=(const CWhyQuery&) = delete;

    // Loads the subclient's content and filters, its record, the reference time and, with a
    // job id, that job's lists. A subclient that cannot be loaded fails; a missing record or
    // reference is no error (the answers say so).
    [[nodiscard]] CKxError Load();
    // One line for `path` (absolute): "<path>: <decision>[; <what the job did>]".
    std::string Explain(const std::string& path);

private:
    [[nodiscard]] CKxError LoadReferenceTime();
    [[nodiscard]] CKxError LoadJob(long long jobId);
    std::string Decide(const std::string& path, const struct stat& status);
    std::string JobFacts(const std::string& path) const;
    // How the subclient's last incremental found its items, from the stored journal points
    // (subclients that keep a change journal).
    void LoadLastIncremental();

    SOptions m_options;
    unsigned long long m_orbundId = 0;
    unsigned long long m_appNumber = 0;
    std::string m_resultsFolder;
    CScanContentConfigurationPtr m_configuration;
    CScanContentConfiguration::SFilterSets m_sets;
    std::vector<std::string> m_content;
    std::shared_ptr<CPathCacheFlatFileIndex> m_record;
    std::shared_ptr<skipFS> m_fileSystems;
    std::int64_t m_referenceTime = 0;
    // What the job did, by decoded path.
    std::map<std::string, int> m_backupTook;       // kind letter
    std::map<std::string, int> m_backupFailed;     // errno
    std::map<std::string, int> m_scanFailed;       // error code
    std::map<std::string, int> m_collectFile;      // collect file number
    std::string m_lastIncremental;  // "; the last incremental found its items by ..." or empty
    bool m_jobFilesHere = false;  // the results folder holds the job's collect files
};
