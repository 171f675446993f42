#pragma once
// CScanJobFileSystemCallbackSQLiteDirchange: the Unix callback of file-system jobs that keep
// their directory-change record in a database. Every output stage records through its own
// CContentContainerBuffer on the job's database instead of an IncrementalDirChange; the names
// are the database ones (CFileNameFactorySQLiteDirchange); the comparison after the walk is
// CPostProcessSQLiteDirChange. Everything else (the chain, collect files, failures, the
// evaluator with the previous database as its lookup) is the Unix callback's.
//
// Thread: as CUnixScanJobCallback; the database is set by the job's preparation, before the walk.
#include "ContentContainer/ContentContainer.h"
#include "Scan/Unix/UnixScanJobCallback.h"

class CScanJobFileSystemCallbackSQLiteDirchange : public CUnixScanJobCallback {
public:
    void SetDirchangeStore(CX::CContentContainerPtr store) { m_store = std::move(store); }
    const CX::CContentContainerPtr& GetDirchangeStore() const { return m_store; }

    [[nodiscard]] CKxError GetPostProcessDirChangeInterface(std::shared_ptr<IPostProcessDirChange>& postProcess) override;

protected:
    std::shared_ptr<CFileNameFactory> MakeFileNameFactory(unsigned int backupType,
                                                          const std::string& resultsFolder) override;
    // Error 774 "Current SQLiteDirchange Object is not initialized. Cannot create buffer." before
    // the job's preparation set the database.
    [[nodiscard]] CKxError MakeDirChangeConsumer(int index, CItemConsumerPtr& record) override;

private:
    CX::CContentContainerPtr m_store;
};
