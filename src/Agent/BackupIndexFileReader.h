#pragma once
// CBackupIndexFileReader: reads a backup-index job file line by line (or a sorted run of lines
// without a header, as the writer spills them), checking each line's form and that the lines
// come in order, strictly increasing (BackupIndexFormat::Compare). Every error names the file
// and the line. It holds one line and one 64 KiB read buffer, whatever the file's size.
//
// Thread: one object, one thread.
#include "Agent/BackupIndexFormat.h"
#include "Base/KxError.h"

#include <cstdio>
#include <memory>
#include <string>

class CBackupIndexFileReader {
public:
    CBackupIndexFileReader() = default;
    CBackupIndexFileReader(const CBackupIndexFileReader&) = delete;
    CBackupIndexFileReader& operator=(const CBackupIndexFileReader&) = delete;
    ~CBackupIndexFileReader();

    // Opens `path`; with `header`, its first line is the header, parsed into it.
    [[nodiscard]] CKxError Open(std::string path, SIndexJob* header);
    // Reads the next line into Line(); `got` is false at the end of the file.
    [[nodiscard]] CKxError Next(bool& got);

    // The line Next read; the caller may copy it, not move from it (the next line is checked
    // against it).
    const BackupIndexFormat::SLine& Line() const { return m_line; }
    const std::string& Path() const { return m_path; }

private:
    [[nodiscard]] CKxError ReadText(std::string_view& text, bool& got);
    CKxError Fault(CKxError error) const;

    struct SClose {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::string m_path;
    std::unique_ptr<std::FILE, SClose> m_file;
    char* m_buffer = nullptr;  // getline's
    size_t m_capacity = 0;
    unsigned long long m_lineNumber = 0;
    bool m_hasLine = false;
    BackupIndexFormat::SLine m_line;
    BackupIndexFormat::SLine m_previous;
};
