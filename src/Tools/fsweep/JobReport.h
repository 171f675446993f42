#pragma once
// CJobReport: what one job did, for the operator, from what the job left: its journal
// (JobManager/<jobId>.jsonl), its step times (JobResults/jobs/<jobId>/ScanSteps.json), the
// backup index of its backup phase (Index/<orbundId>_<appNumber>/<jobId>.idx) and, while the
// subclient results folder still holds them, its failure list and collect files.
//
// Sections: outcome; items and bytes selected; deletions; failures grouped by error and the
// ten folders with the most failures; collect files with their items and data sizes; the ten
// folders whose files the backup took the most bytes of; the walk and every clean-up step that
// took more than 1% of the job. Text for a terminal, or one self-contained HTML page (no
// network, no script) with inline SVG bar charts of the collect files' sizes and the step times.
//
// Thread: one object, one thread. The process must be focused on the instance.
#include "Base/KxError.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class CJobReport {
public:
    // `applicationId` "<orbundId>:<appNumber>", or "" to find the subclient by the job's backup
    // index file.
    CJobReport(long long jobId, std::string applicationId);

    // Reads what the job left. A job without a journal fails (code 2, naming the file).
    [[nodiscard]] CKxError Load();
    std::string Text() const;
    std::string Html() const;

private:
    struct SRow {
        std::string label;
        double value = 0;
    };
    // The rows of each section, in order, for both renderings.
    struct SSection {
        std::string title;
        std::vector<std::pair<std::string, std::string>> lines;  // label, value
        std::vector<SRow> chart;                                  // bars, when the section has a chart
        std::string unit;                                         // of the chart's values
    };
    std::vector<SSection> Sections() const;
    [[nodiscard]] CKxError LoadJournal();
    [[nodiscard]] CKxError LoadIndex();
    void LoadResultsFolder();
    void LoadSteps();

    long long m_jobId;
    std::string m_applicationId;
    std::string m_resultsFolder;
    // From the journal.
    int m_status = 0;
    std::string m_message;
    long long m_streams = 0;
    long long m_scanBytes = 0;
    long long m_scanFailures = 0;
    int m_backupStatus = 0;
    long long m_backupItems = 0, m_backupFolders = 0, m_backupBytes = 0;
    // From the backup index.
    bool m_indexFound = false;
    std::map<std::string, std::uint64_t> m_sizes;  // every item the backup took, by path
    long long m_deletions = 0;
    std::vector<std::pair<int, std::string>> m_failures;  // error, path (scan and backup phase)
    // From the results folder.
    bool m_collectFilesHere = false;
    std::map<int, std::pair<long long, std::uint64_t>> m_collectFiles;  // number: items, bytes
    // From the step times.
    double m_jobSeconds = 0;
    std::vector<std::pair<std::string, double>> m_steps;
};
