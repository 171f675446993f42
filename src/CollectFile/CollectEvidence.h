#pragma once
// CCollectEvidence: the whole-file evidence of one backup's collect files.
//
// A collect file cut at a line boundary (the machine stopped before its last pages reached the
// disk) still reads as a valid collect file; the items of the lost lines would never be backed
// up, and once the backup phase moved the new directory-change record into place no later
// incremental would take them either. So the scan leaves, beside the collect files, a small
// evidence file ("CollectEvidenceTot.zvf" for a full, "CollectEvidenceInc.zvf" otherwise) with
// the line count and byte size of every file the backup phase will read:
//
//   fsweep-collect-evidence 1
//   <lines> <bytes> <file name>
//   ...
//
// The covered files are those of the backup type's collect family in the results folder: names
// matching the collect pattern ("CollectTot*.zvf"), the hard-link ones ("H" + pattern), and the
// split map when there is one. The backup phase refuses the family when the evidence is missing
// or malformed, when a file it names is missing or differs in lines or bytes, or when a covered
// file is not named (ListCovered on both sides, so both see the same set).
//
// The evidence is measured from the files as they stand at the end of the scan (or taken from
// the counts of the step that wrote them last, when the size still agrees), written under a
// temporary name and renamed, and synced with the rest of the job's outputs.
//
// Thread: pure functions over files; no state.
#include "Base/KxError.h"

#include <cstdint>
#include <string>
#include <vector>

class CCollectEvidence {
public:
    struct SEntry {
        std::uint64_t lines = 0;  // newline bytes
        std::uint64_t bytes = 0;
        std::string name;
    };

    // The names (sorted) of the files of `folder` the evidence covers.
    [[nodiscard]] static CKxError ListCovered(const std::string& folder, const std::string& collectPattern,
                                              const std::string& splitMapName, std::vector<std::string>& names);
    // Lines and bytes of the file at `path`.
    [[nodiscard]] static CKxError Measure(const std::string& path, SEntry& entry);
    // Measures `names` in `folder` and writes the evidence to `evidencePath`. A file named in
    // `written` (what its writer counted as it wrote it) is taken from there when its size on
    // disk still matches, and read back otherwise.
    [[nodiscard]] static CKxError Write(const std::string& evidencePath, const std::string& folder,
                                        const std::vector<std::string>& names,
                                        const std::vector<SEntry>& written = {});
    // Succeeds when the evidence at `evidencePath` names exactly `names` and each file of
    // `folder` has the lines and bytes it records; the error names the first file that differs.
    [[nodiscard]] static CKxError Verify(const std::string& evidencePath, const std::string& folder,
                                         const std::vector<std::string>& names);
};
