#pragma once
// Item bag keys the scan's consumers and evaluators read and write (the bag of one CItem).
// Each holds the type named beside it; a reader that finds another type treats the key as
// absent.
#include "CollectFile/ExtentLine.h"

namespace SXBagId {
// Change-journal sequence number of the item (long long). Items of this platform carry none.
inline constexpr const char* idUSN = "USN:Windows";
// The item came back from the previous job's commit or failed list with only its metadata
// changed (bool).
inline constexpr const char* idItemACLOnlyCommitOrFailed = "ItemACLOnlyCommitOrFailed";
// The item qualifies for extent-level backup (bool; the extent consumer's key, which the collect
// file reads to write the item's extent-qualified line).
inline constexpr const char* idExtentQualifiedFile = CExtentLine::kQualifiedKey;
// Only the item's metadata changed: it goes to the directory-change record, not the collect
// file (bool, written by the evaluator).
inline constexpr const char* idDirChangeItemACLOnly = "DirChangeItemACLOnly";
// An item added by post-processing whose metadata alone is backed up (bool).
inline constexpr const char* idItemACLOnly = "ItemACLOnly";
// Backup frequency to keep in the item's directory-change record (unsigned int).
inline constexpr const char* idDirChangeItemBackupFrequency = "DirChangeItemBackupFrequency";
// Post-processing selected the item (bool).
inline constexpr const char* idPostProcessQualified = "POSTPROCESS_QUALIFIED";
// The item was deleted in this job (bool).
inline constexpr const char* idDeleted = "DELETED";
}  // namespace SXBagId
