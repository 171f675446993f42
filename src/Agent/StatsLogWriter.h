#pragma once
// CStatsLogWriter: a statistics log of the agent, Log_Files/<name>.log of the focused
// instance, one line per call: "<date> <time> <jobId> <module> <line>". Several jobs append to
// the same file; each line is written whole with one write (the file is opened to append).
//
// Thread: Log from any thread.
#include "Base/KxError.h"

#include <memory>
#include <string>

class CStatsLogWriter {
public:
    CStatsLogWriter(std::string name, long long jobId, std::string module);
    ~CStatsLogWriter();
    CStatsLogWriter(const CStatsLogWriter&) = delete;
    CStatsLogWriter& operator=(const CStatsLogWriter&) = delete;

    // Opens (creates, mode 0640) the file; fails naming it. No link is followed and anything
    // but a regular file (a FIFO, a device) is refused without waiting.
    [[nodiscard]] CKxError Open();
    const std::string& Path() const { return m_path; }
    // A failed write is dropped: the report never stops the job.
    void Log(const std::string& line);

private:
    std::string m_path;
    long long m_jobId;
    std::string m_module;
    int m_fd = -1;
};

using CStatsLogWriterPtr = std::shared_ptr<CStatsLogWriter>;
