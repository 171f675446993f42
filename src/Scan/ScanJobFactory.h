#pragma once
// CScanJobFactory: decides which kind of scan a job needs and builds the matching pair of a
// scan job and its per-item callback.
//
// The decision goes by the application type of the job's subclient first, then by short
// command-line options, then by what the application configuration says of the backup set,
// subclient and client, and last by agent settings (section "FileSystemAgent"). It reports
// no errors of its own: anything it cannot read is logged and yields type 0, which the driver
// refuses; a type without a class yields an empty job or callback, which the driver refuses.
//
// Ownership: the driver holds it through CScanJobFactoryPtr for one Process call.
// Thread: main thread only (the use-SQLite flag is set by IdentifyScanJobType and read by the
// creators).
#include "Base/KxError.h"
#include "Scan/ScanJob.h"
#include "Scan/ScanJobCallback.h"
#include "Scan/ScanJobType.h"

#include <memory>
#include <string>

class ApplicationId;

class CScanJobFactory {
public:
    explicit CScanJobFactory(const std::string& instance);
    virtual ~CScanJobFactory();

    // The whole decision for the job on this command line; 0 when nothing matched.
    virtual EScanJobType IdentifyScanJobType(CCommandLineArgumentsPtr args);
    // The job of the type with the factory's instance set; empty when the type has no job.
    virtual CScanJobPtr CreateScanJob(EScanJobType type);
    // The callback of the type; empty when the type has none.
    virtual CScanJobCallbackPtr CreateScanJobCallback(EScanJobType type);
    // Option rules, first match wins; 0 when none matched.
    virtual EScanJobType IdentifyScanJobTypeFromCommandLine(CCommandLineArgumentsPtr args);
    // Backup-set, subclient and client rules; 0 when none matched.
    virtual EScanJobType IdentifyScanJobTypeFromAppMgr(ApplicationId& application);
    virtual CScanJobPtr CreateScanJobObject(EScanJobType type);

    // The application type of the job's application (option "a").
    [[nodiscard]] CKxError GetAppType(CCommandLineArgumentsPtr args, unsigned long& appType);
    // Archiving (42) or archiving that deletes without backup (55).
    EScanJobType IdentifyFileArchivingJob(ApplicationId& application);
    // Snapshot catalog by direct copy (52), plain snapshot catalog (12) when the subclient
    // cannot be read, else 0.
    EScanJobType IdentifySnapCatalogDirectJob(ApplicationId& application);
    // Refines a snapshot job type `jobType` for the instance `instance`; the type itself when
    // the job does not compare snapshots.
    EScanJobType IdentifySnapDiffJob(ApplicationId& application, const std::string& instance,
                                     CCommandLineArgumentsPtr args, long long jobType);

    const std::string& GetInstance() const { return m_instance; }
    bool IsUseSQLite() const { return m_useSQLite; }
    // Why the last IdentifyScanJobType answered 0 when the application's configuration could
    // not be loaded (its error names the file and, for a bad value, the key); success otherwise.
    const CKxError& GetConfigurationError() const { return m_configurationError; }

private:
    std::string m_instance;
    bool m_useSQLite = false;
    CKxError m_configurationError;
};

using CScanJobFactoryPtr = std::shared_ptr<CScanJobFactory>;
