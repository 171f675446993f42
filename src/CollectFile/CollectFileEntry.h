#pragma once
// CCollectFileEntry: one entry handed to CBasicCollectFile::AddEntry, a file or a folder.
// The path is the item's local path, unescaped; the line formatter maps and escapes it.
#include <cstdint>
#include <string>

class CCollectFileEntry {
public:
    virtual ~CCollectFileEntry() = default;
    const std::string& GetPath() const { return m_path; }
    virtual bool IsFolder() const = 0;
    virtual std::uint64_t GetSize() const { return 0; }

protected:
    explicit CCollectFileEntry(std::string path) : m_path(std::move(path)) {}

private:
    std::string m_path;
};
