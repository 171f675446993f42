#pragma once
// FileExtentOptions: decides whether large files of a job are backed up by extents (several
// streams share one file) or by their access-control lists only, and writes the switches
// that the extent consumer and the extent splitter read:
//   "RegKey:MultiStreamExtentBackup" (bool), "RegKey:ExtentBackupFileExtentSlabsKey" (string),
//   "SC:ExtentBackupFileSize" (unsigned long long), "SC::ExtentFeatureEnabledExplicitly" (bool),
//   "SC::ACLOnlyBackup" (bool).
// It reads "SC:DistributedAppType" (int), "jobType" and "SC:idSnapBackupWithouSnapCatalog"
// (bool) from the bag, settings nMultiStreamExtentBackup, mszFileExtentSlabs and
// mszArchiveFileExtentSlabs.
//
// Thread: the job's main thread, while the options load.
#include "Base/Bag.h"
#include "Base/KxError.h"

class Subclient;

class FileExtentOptions {
public:
    // `subclient` must not be null (the caller checks). Returns success when extent backup
    // simply does not apply.
    static CKxError ConfigFileExtentOptions(const CBagPtr& bag, Subclient* subclient);
};
