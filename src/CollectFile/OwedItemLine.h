#pragma once
// COwedItemLine: one line of the two lists that carry items an earlier job still owes to a
// backup into the next scan: the failed-file list the backup phase leaves ("Failures.zvf",
// items it could not read) and the commit file of an interrupted backup phase (the items it
// had not taken yet). Both are read and written here, so that the backup phase and the scan
// agree on every byte.
//
// Failed-file line: "<escaped path>:<errno>". The error number is after the LAST ':', so a
// path holding ':' stays whole. A "%CONTAINERACL%" prefix marks an item whose access-control
// data only is owed.
//
// Commit line, the forms tested in this order:
//   "??d<escaped path>" / "??D<escaped path>"  a file / folder deleted since (Deleted)
//   "??MA<escaped path>"                       a migration-assistant item, taken as an item
//   "%CONTAINERACL%<escaped path>"             access-control data only (AclOnly)
//   "%EXTENT%<escaped path>/<index>:<a>:<b>:<c>:<file size>:<extent size>[|<length>]"
//                                              one extent of a file (Extent)
//   "%CONTAINER%<escaped path>:<a>:<b>:<c>:<file size>:<extent size>"
//                                              a file backed up as extents (Container); both
//                                              read by CExtentLine, from the right
//   "# <inode> <device> <ctime> <size> <path>" a hard-link record (HardLink); the path is the
//                                              rest of the line, as the hard-link files keep it
//   "///device/<escaped path>"                 a raw device (RawDevice)
//   "<escaped path>[/][|<size>]"               an item line as a collect file holds it (Item)
// In both lists an empty line, a line beginning with a tab and the hard-link files' header
// "# /" are skipped (Skip); trailing '\r' and '\n' are cut first.
//
// Errors: a line that is none of these (a path that is not absolute or does not decode, a
// failed-file line without its error number, an extent or hard-link line short of fields) is
// error 13 naming what is wrong; nothing is thrown.
//
// Thread: values only; any thread.
#include "Base/KxError.h"

#include <string>
#include <string_view>

class COwedItemLine {
public:
    enum class EKind { Skip, Item, Deleted, AclOnly, Extent, Container, HardLink, RawDevice };

    static constexpr std::string_view kAclOnlyPrefix = "%CONTAINERACL%";
    static constexpr std::string_view kRawDevicePrefix = "///device/";

    [[nodiscard]] static CKxError ParseFailedLine(std::string_view line, COwedItemLine& parsed);
    [[nodiscard]] static CKxError ParseCommitLine(std::string_view line, COwedItemLine& parsed);
    // "<escaped path>:<error>", without a newline.
    static std::string FormatFailedLine(std::string_view path, int error);

    EKind kind = EKind::Skip;
    std::string path;     // decoded, absolute, without a trailing '/' (except "/" itself)
    bool folder = false;  // the line said folder: a trailing '/' or "??D"
    int error = 0;        // failed-file lines: the error number the backup phase met
};
