#pragma once
// CJournalReader: reads a span of a change journal for the scan.
//
// The file is untrusted input: an unknown version, a missing or misplaced header, an unknown
// or damaged record, a path that does not decode to a canonical absolute path, a raw control
// byte, or a last line without "\n" is an error (code 13) naming the file and the line; the
// scan then walks. A read failure keeps its errno code.
//
// Thread: any thread (no shared state).
#include <cstdint>
#include <string>
#include <vector>

#include "Base/KxError.h"

struct SJournalSpan {
    std::string runId;
    uint64_t sequence = 0;
    int64_t completeSince = 0;
    uint64_t headerEnd = 0;              // offset of the first record after the two header lines
    std::vector<std::string> folders;    // "d" paths of the span, decoded, unique, in DirChangePathOrder
    std::vector<std::string> links;      // "l" paths of the span, decoded, unique, in DirChangePathOrder
    bool broken = false;
    std::string brokenCause;             // the span's first "broken" cause
    bool ended = false;                  // an "end" line lies in the span
};

class CJournalReader {
public:
    static constexpr uint64_t kToEnd = UINT64_MAX;

    // Checks the header of `journalPath`, then reads the records in [fromOffset, toOffset).
    // fromOffset 0 stands for headerEnd; any other fromOffset must be a line start at or after
    // headerEnd. toOffset (kToEnd: the file's size) must be a line end no further than the end
    // of the file: a journal shorter than a stored point is not the journal that point saw.
    [[nodiscard]] static CKxError Read(const std::string& journalPath, uint64_t fromOffset, uint64_t toOffset,
                                       SJournalSpan& out);
};
