#pragma once
// CCollectFileReader: reads a collect file back one line at a time through a bounded buffer,
// whatever the file's size.
//
// For each line it tells the parts of a collect line: an optional start character (when the
// file was written with one, SetHasStartCharacters(true)), the escaped path, a trailing '/'
// for folders, and "|<size>" (decimal) for items with data. A line without a size suffix has
// size 0; a '|' followed by anything but 1 to 20 digits is not a size and stays in the line.
// Special lines ("??D", "??d", '%' and '#' lines) are handed over like any other; a "??D"
// deletion names a folder.
//
// Thread: one reader belongs to one thread.
#include "Base/KxError.h"

#include <cstdint>
#include <string>

class CCollectFileReader {
public:
    static constexpr size_t kBufferBytes = size_t{1} << 20;

    CCollectFileReader() = default;
    ~CCollectFileReader();
    CCollectFileReader(const CCollectFileReader&) = delete;
    CCollectFileReader& operator=(const CCollectFileReader&) = delete;

    void SetHasStartCharacters(bool hasStartCharacters) { m_hasStartCharacters = hasStartCharacters; }
    [[nodiscard]] CKxError OpenCollectFile(const std::string& path);
    // The next line without its newline, start character and size suffix. At the end of the
    // file it returns success with IsEndOfFile() true and `line` empty. Empty lines are
    // returned as they are.
    [[nodiscard]] CKxError GetNextLine(std::string& line);
    bool IsEndOfFile() const { return m_endOfFile; }

    // About the line GetNextLine returned last:
    bool IsDirectory() const;
    std::uint64_t GetCurrentItemFileSize() const { return m_size; }
    bool HasSize() const { return m_hasSize; }
    char GetCurrentStartCharacter() const { return m_startCharacter; }
    const std::string& GetCurrentRawLine() const { return m_rawLine; }
    bool IsSpecialLine() const;
    // The item's path, unescaped and without the folder's trailing '/' (kept for "/" itself).
    // Special lines are refused (code 13).
    [[nodiscard]] CKxError GetCurrentPath(std::string& path) const;
    std::uint64_t GetLineNumber() const { return m_lineNumber; }

    void Close();

private:
    CKxError Fill();

    bool m_hasStartCharacters = false;
    std::string m_path;
    int m_fd = -1;
    char* m_buffer = nullptr;
    size_t m_begin = 0;
    size_t m_end = 0;
    bool m_eofSeen = false;
    bool m_endOfFile = false;

    std::string m_rawLine;
    std::string m_line;  // without start character and size
    char m_startCharacter = '\0';
    std::uint64_t m_size = 0;
    bool m_hasSize = false;
    std::uint64_t m_lineNumber = 0;
};
