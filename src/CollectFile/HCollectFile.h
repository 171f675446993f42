#pragma once
// HCollectFile: a hard-link collect file, the list of the hard-linked files a scan took from one
// collect file, so that the backup phase can store each file's data once and restore all its
// names as links of one file.
//
// Layout: a header line "# /" when the file is created, then one line per name:
//
//   # <inode> <device> <change time> <size> <escaped path>
//
// numbers in decimal (inode and device unsigned 64-bit, change time signed 64-bit seconds, size
// unsigned 64-bit); the path is escaped like every collect line (FileNameEscaping.h), so a name
// holding a newline, a '|' or any byte reads back as written, and it is the rest of the line
// (it may hold blanks). The names of one file are grouped by (device, inode): a group never
// mixes devices.
//
// Thread: an HCollectFile object belongs to one thread at a time (its owner serialises writers);
// the static readers are pure.
#include "Base/KxError.h"
#include "CollectFile/BufferedFile.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct HLinkGroupElement {
    std::uint64_t inode = 0;
    std::uint64_t device = 0;
    std::int64_t changeTime = 0;
    std::uint64_t size = 0;
    std::string path;  // decoded, absolute

    bool operator==(const HLinkGroupElement&) const = default;
};

// (device, inode) -> the names of that file, in file order; groups in key order.
using HLinkGroups = std::map<std::pair<std::uint64_t, std::uint64_t>, std::vector<HLinkGroupElement>>;

class HCollectFile {
public:
    static constexpr std::string_view kHeader = "# /";

    explicit HCollectFile(std::string path) : m_path(std::move(path)) {}

    // Opens for appending, creating the file (with its header) when missing.
    [[nodiscard]] CKxError OpenForAppend();
    // Creates the file anew (with its header).
    [[nodiscard]] CKxError Create();
    [[nodiscard]] CKxError Append(const HLinkGroupElement& element);
    [[nodiscard]] CKxError Close();
    const std::string& Path() const { return m_path; }
    std::uint64_t Bytes() const { return m_file.Tell(); }
    std::uint64_t Lines() const { return m_lines; }  // header included

    // Appends the line of `element` (with its newline) to `line`.
    static void FormatLine(const HLinkGroupElement& element, std::string& line);
    // Whether `line` (without its newline) is a hard-link line or the header; a line starting
    // with "# " is one, anything else is not.
    static bool IsHardLinkLine(std::string_view line) { return line.starts_with("# "); }
    // Parses a hard-link line other than the header; an error (13) names what is wrong.
    [[nodiscard]] static CKxError ParseLine(std::string_view line, HLinkGroupElement& element);
    // Reads the whole file into `groups` (added to what it holds). A malformed line fails the
    // read with the file name and line number: a name dropped here would never be backed up.
    [[nodiscard]] static CKxError ReadGroups(const std::string& path, HLinkGroups& groups);

private:
    CKxError WriteHeaderIfEmpty();

    std::string m_path;
    CBufferedFile m_file{size_t{64} << 10};
    std::uint64_t m_lines = 0;
};
