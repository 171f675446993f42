#pragma once
// CTrueUpItemInfo: the directory-change record of a true-up job: the version 1 record
// (CDirChangeItemInfo) and what the true-up compares with the backup index: the item's
// modification time, change time, size (0 for folders) and kind ('d' folder, 'f' regular file,
// 'l' symbolic link, 'o' anything else).
//
// Text (CTrueUpItemFormatter writes it after the version 1 fields): "|<MT>n|<CT>n|<SZ>n|<KD>c".
// A record without these tags (written by a job that ran no true-up) reads as kind '\0' with
// zero times and size: it never compares equal to an indexed item, so nothing is missed.
// Version 1 readers ignore the tags, so the next job reads a true-up job's record as any other.
//
// Thread: a record belongs to one thread while it changes.
#include "Scan/Dirchange/DirChangeItemInfoImpl.h"

#include <cstdint>

class CTrueUpItemInfo : public CDirChangeItemInfoImpl {
public:
    CTrueUpItemInfo();
    CTrueUpItemInfo(long long mtime, long long ctime, std::uint64_t size, char kind);
    ~CTrueUpItemInfo() override;

    // The version 1 fields, then "<MT>", "<CT>", "<SZ>" (decimal) and "<KD>" (one character).
    [[nodiscard]] CKxError ParseFields(const std::vector<std::string>& fields) override;

    long long GetModificationTime() const { return m_mtime; }
    long long GetChangeTime() const { return m_ctime; }
    std::uint64_t GetSize() const { return m_size; }
    char GetKind() const { return m_kind; }

private:
    long long m_mtime = 0;
    long long m_ctime = 0;
    std::uint64_t m_size = 0;
    char m_kind = '\0';
};

using CTrueUpItemInfoPtr = std::shared_ptr<CTrueUpItemInfo>;
