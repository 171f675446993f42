#pragma once
// COwedListWriter: writes one of the lists of owed items (the failed-file list, the commit file
// of an interrupted backup phase) so that a reader finds either the old list or the whole new
// one, on disk. Lines go to a new file beside the list ("<list>.tmp.
// <pid>.<random>", O_EXCL, O_NOFOLLOW, mode 0600) opened at the first line; Commit closes it,
// syncs it, renames it over the list and syncs the folder. A writer that got no line leaves
// everything as it was; one destroyed before Commit removes its file.
//
// With `keepExisting`, a list already in place (one no scan has taken yet) is copied to the
// front of the new one: its items are still owed.
//
// Thread: one object, one thread.
#include "Base/KxError.h"
#include "CollectFile/BufferedFile.h"

#include <cstdint>
#include <string>
#include <string_view>

class COwedListWriter {
public:
    COwedListWriter(std::string path, bool keepExisting);
    ~COwedListWriter();
    COwedListWriter(const COwedListWriter&) = delete;
    COwedListWriter& operator=(const COwedListWriter&) = delete;

    // `line` without its newline.
    [[nodiscard]] CKxError Append(std::string_view line);
    // The whole of the file at `path` (lines and their newlines).
    [[nodiscard]] CKxError AppendFile(const std::string& path);
    [[nodiscard]] CKxError Commit();

    const std::string& Path() const { return m_path; }
    std::uint64_t Lines() const { return m_lines; }

private:
    [[nodiscard]] CKxError Open();

    std::string m_path;
    bool m_keepExisting;
    std::string m_temp;
    CBufferedFile m_file{size_t{64} << 10};
    std::uint64_t m_lines = 0;
};
