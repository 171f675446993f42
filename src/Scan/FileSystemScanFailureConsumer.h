#pragma once
// CFileSystemScanFailureConsumer: the job's list of items the scan could not take
// ("scan_Failures.zvf", named by the results-file name factory), one line per item:
//
//   <kind> <escaped source path>:<code>
//
// <kind> is "folder" for a folder and "file" for anything else (a file, a link, a fifo, a
// device); the path is escaped with escapeFileName, so a name holding a newline or ':' cannot
// break the list (a reader takes the text before the last ':'); <code> is the item bag's
// "errorCode" (the errno of the failure), or 14 when the item carries none. ParseLine reads a
// line back.
//
// Failures of single items never stop the walk; a list that cannot be written does: Process
// then returns the write error, which the engine makes the scan's final status (an
// unrecorded failure is an item silently lost).
//
// The administrator's error rules (ZvErrorControl), once installed, are consulted for each
// failed item only: an item a rule marks skip-from-reporting stays in the list but is left out
// of getProcessedItemsCount, the failure count the job manager hears. After the walk
// EvaluateErrorRules reads the list back and answers the job decision of its items.
//
// Ownership: made once per job by the callback (GetScanFailureConsumer) and shared with the
// work-unit manager and the driver. Thread: Process and Flush may be called from any thread;
// m_writeLock keeps each line whole.
#include "Base/KxError.h"
#include "Engine/ScanFailureConsumer.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

class CBackupOutConsumer;
class CFileNameFactory;
class ZVJobCtrlClient;
class ZvErrorControl;

// One line of the list, read back.
struct SFailedItem {
    bool isFolder = false;
    std::string path;  // decoded
    int code = 0;
};

class CFileSystemScanFailureConsumer : public CScanFailureConsumer {
public:
    static constexpr int kDefaultErrorCode = 14;

    CFileSystemScanFailureConsumer(long long jobId, std::shared_ptr<CFileNameFactory> names);
    ~CFileSystemScanFailureConsumer() override;

    // Opens the list, emptying what an earlier job left in it.
    [[nodiscard]] CKxError Initialize();
    // Without an open list the item is passed by (success).
    [[nodiscard]] CKxError Process(const CItemPtr& item) override;
    // Items written to the list, less those a rule skips from reporting.
    unsigned long long getProcessedItemsCount() const override;
    [[nodiscard]] CKxError Flush();
    // Subclasses leave out items their job does not report; none here.
    virtual bool IsSkipFailedItem(const CItemPtr& item) const;

    // Installs the error rules of the application's client and type (fetched through `control`,
    // kept beside the list). Without a client id: "Failed to get ClientId", no rules.
    void SetZvErrorControl(const std::shared_ptr<ZVJobCtrlClient>& control, const std::string& applicationId);
    // The job decision of the list's items (ZvErrorControl::GetJobDecisionFor over the list):
    // -1 without rules or without items; errorText names the item that decided. Call after Flush.
    int EvaluateErrorRules(std::string& errorText, std::string& pattern);
    // The installed rules (none: null).
    std::shared_ptr<ZvErrorControl> GetZvErrorControl();

    // The list line of one failed item, with its newline.
    static std::string FormatLine(CItem& item);
    // The item bag's "errorCode", or kDefaultErrorCode.
    static int ErrorCodeOf(CItem& item);
    static std::string FormatLine(bool isFolder, std::string_view path, int code);
    // Reads one line (without its newline) back: the exact inverse of FormatLine. Anything
    // FormatLine cannot have written fails with code 13 naming the cause.
    [[nodiscard]] static CKxError ParseLine(std::string_view line, SFailedItem& item);
    std::string GetFileName() const;
    // The list's writer once Initialize succeeded (tests inject write failures through it).
    const std::shared_ptr<CBackupOutConsumer>& GetWriter() const { return m_writer; }

private:
    std::shared_ptr<CFileNameFactory> m_names;
    std::mutex m_writeLock;  // guards the writer's lines and the open/flush state
    std::shared_ptr<CBackupOutConsumer> m_writer;
    std::shared_ptr<ZvErrorControl> m_errorControl;  // guarded by m_writeLock
    std::atomic<unsigned long long> m_skippedFromReporting{0};
};

using CFileSystemScanFailureConsumerPtr = std::shared_ptr<CFileSystemScanFailureConsumer>;
