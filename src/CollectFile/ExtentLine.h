#pragma once
// CExtentLine: the collect lines of a file backed up as extents, so that several streams can
// read one large file. The collect file, the extent splitter, the commit-file reader and the
// backup phase all format and read them here, so they agree on every byte.
//
//   "%EXTENTQ%<escaped path>:<device>:<inode>:<mtime>:<file size>:<extent size>|<file size>"
//        written by the collect file for a file the extent consumer marked (Qualified)
//   "%EXTENT%<escaped path>/<index>:<device>:<inode>:<mtime>:<file size>:<extent size>|<length>"
//        one extent of the file, index 0 first (Extent); the split removes "|<length>"
//   "%CONTAINER%<escaped path>:<device>:<inode>:<mtime>:<file size>:<extent size>"
//        the file itself, whose metadata the backup phase takes once (Container)
//
// Lines are read from the right: an optional "|<digits>", five ':' fields, for an extent the
// index after the last '/', and the rest is the escaped path, so a path may hold ':', '/' and
// digits freely (escaping leaves no '|' or newline in it). The mtime is written as the
// unsigned image of the signed seconds and read back the same way.
//
// Thread: values only; any thread.
#include "Base/KxError.h"

#include <cstdint>
#include <string>
#include <string_view>

class CExtentLine {
public:
    enum class EKind { Qualified, Extent, Container };

    static constexpr std::string_view kQualifiedMarker = "%EXTENTQ%";
    static constexpr std::string_view kExtentMarker = "%EXTENT%";
    static constexpr std::string_view kContainerMarker = "%CONTAINER%";
    // Item-bag keys the extent consumer sets on a file it marks: bool, unsigned long long, bool.
    static constexpr const char* kQualifiedKey = "ExtentQualifiedFile";
    static constexpr const char* kExtentSizeKey = "ExtentBackupFileExtentSize";
    static constexpr const char* kExplicitlyKey = "ExtentFeatureEnabledExplicitly";
    // What an extent size of 0 stands for: a file is never cut into zero-length extents.
    static constexpr std::uint64_t kDefaultExtentSize = std::uint64_t{4} << 20;

    // The kind of `line` by its marker; false for any other line.
    static bool KindOf(std::string_view line, EKind& kind);
    // Parses a whole line (without its newline); error 13 naming the line when it is short of
    // fields, a number is not decimal or the path does not decode.
    [[nodiscard]] static CKxError Parse(std::string_view line, CExtentLine& parsed);
    // Appends the line, without a newline, ending in "|<size>" when it has one.
    void AppendTo(std::string& out) const;
    std::string Format() const;

    // The extent size a file is cut by (0 stands for kDefaultExtentSize).
    std::uint64_t EffectiveExtentSize() const { return extentSize != 0 ? extentSize : kDefaultExtentSize; }
    // Extents of the file: ceil(file size / extent size); 0 for an empty file.
    std::uint64_t ExtentCount() const;
    // Bytes of extent `at`: the extent size, less for the last one, 0 past the end.
    std::uint64_t ExtentLength(std::uint64_t at) const;

    EKind kind = EKind::Qualified;
    std::string path;  // decoded
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t mtime = 0;
    std::uint64_t fileSize = 0;
    std::uint64_t extentSize = 0;
    std::uint64_t index = 0;  // Extent lines
    bool hasSize = false;     // the line ended in "|<size>"
    std::uint64_t size = 0;   // Qualified: the file size; Extent: the extent's length

    bool operator==(const CExtentLine&) const = default;
};
