#pragma once
// CChangeJournalPoints: the file ChangeJournalPoints in a subclient's results folder. After
// every scan of a subclient that keeps a change journal, the job stores there, under the
// identity of the directory-change record it wrote, the journal point it got from the daemon
// at its start: the next incremental reads the journal from that point on, but only when the
// record it compares against is that very record (a failed backup phase leaves the older
// record, and with it the older point, in force).
//
// Text, one record a line; a point's own lines follow its "point" line:
//     fsweep-journal-points 1
//     point <record> <run id or -> <sequence> <offset> <unix seconds> <content hash> <walk|journal|full> <escaped cause>
//     m <escaped folder>      a folder that held a non-folder with more than one link
//     i <device> <inode>      such a non-folder
//     r <escaped path>        a path the scan could not read (read again next time)
// The newest point comes last; the last kPointsKept are kept: enough for a run of jobs whose
// backup phase failed, each of which leaves the older record, and so its point, in force.
//
// Thread: owner only. The file is written whole under an O_EXCL temporary and renamed, synced.
#include "Base/KxError.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct SChangeJournalPoint {
    std::string record;       // the identity of the record the job wrote
    std::string runId;        // empty: the job had no journal point (no daemon answered)
    std::uint64_t sequence = 0;
    std::uint64_t offset = 0;
    std::int64_t time = 0;    // when the job asked for the point (unix seconds)
    std::string contentHash;  // the content and filters the job scanned
    bool journal = false;     // the job read the journal (else it walked)
    bool full = false;        // the job was a full (it walked)
    std::string cause;        // why it walked
    std::vector<std::string> multiLinkFolders;                           // sorted, unique
    std::vector<std::pair<std::uint64_t, std::uint64_t>> multiLinkFiles;  // (device, inode), sorted, unique
    std::vector<std::string> retryPaths;                                 // sorted, unique
};

class CChangeJournalPoints {
public:
    static constexpr const char* kFileName = "ChangeJournalPoints";
    static constexpr size_t kPointsKept = 16;

    // The points of `path`, oldest first. A missing file is no point; a damaged one is error 13
    // naming the file and line.
    [[nodiscard]] static CKxError Load(const std::string& path, std::vector<SChangeJournalPoint>& points);
    // The point stored for `record`, or null.
    static const SChangeJournalPoint* Find(const std::vector<SChangeJournalPoint>& points, const std::string& record);
    // Adds `point` as the newest. Byte-identical records share an identity: the point already
    // stored for it then keeps its (older) journal position, since reading the journal from an
    // older point finds every change a newer one would, and the folders to read again are merged.
    // A damaged file is replaced.
    [[nodiscard]] static CKxError Store(const std::string& path, SChangeJournalPoint point);
};
