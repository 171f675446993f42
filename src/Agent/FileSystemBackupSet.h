#pragma once
// FileSystemBackupSet: the file-system backup set the subclient belongs to ("backupSet"
// object). Its kind ("backupSet.kind") answers the two kind queries of the job-type decision:
// "rejected" makes isRejectedKind true, "onDemand" makes isOnDemandKind true, "" (ordinary)
// neither.
//
// Ownership: shared; immutable after construction. Thread: any thread.
#include <memory>
#include <string>

#include "Base/KxError.h"

struct BackupSetData {
    std::string name;
    bool isDefault = false;
    std::string kind;  // "", "rejected" or "onDemand"
};

class FileSystemBackupSet {
public:
    explicit FileSystemBackupSet(BackupSetData data);
    virtual ~FileSystemBackupSet() = default;

    virtual CKxError getBackupSetName(std::string& name) const;
    virtual CKxError isDefaultBackupSet(bool& isDefault) const;
    // First kind query: a backup set of a kind this scanner rejects.
    virtual CKxError isRejectedKind(bool& yes) const;
    // Second kind query: an on-demand backup set.
    virtual CKxError isOnDemandKind(bool& yes) const;

protected:
    BackupSetData m_data;
};

using FileSystemBackupSetPtr = std::shared_ptr<FileSystemBackupSet>;
