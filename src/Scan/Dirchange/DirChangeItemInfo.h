#pragma once
// CDirChangeItemInfo: what the scan keeps per path in the directory-change record, besides the
// index's own base fields: the number of the collect file the item went into (0 when none),
// and one flag byte: bits 0-3 the backup frequency (0 = none; commit processing sets it for
// items a full backup must always take), bit 4 deleted, bit 5 selected (this job put the item
// into a collect file), bit 6 ACL only (only the item's metadata changed).
//
// Text (CDirChangeItemFormatter writes it, ParseFields reads it back): "|<IS>0|1", "|<CI>n",
// "|<BFQ>n" only when the frequency is not 0, "|<ACL>1" only for an ACL-only item. The deleted
// bit is never written: it lives only while a job handles the record.
//
// Objects are made through CDirChangeItemInfoImpl (values) or the parser (text). Thread: a
// record belongs to one thread while it changes.
#include "CollectFile/DirChangeItemBaseInfo.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Backup frequency of an item: 0 none; the record keeps four bits (1-15).
enum eDirChangeItemBackupFrequency : std::uint32_t {
    eDirChangeItemBackupFrequencyNone = 0,
    eDirChangeItemBackupFrequencyMax = 15,
};

class CDirChangeItemInfo : public CDirChangeItemBaseInfo {
public:
    ~CDirChangeItemInfo() override;

    virtual bool GetIsDeleted() const;
    virtual void SetIsDeleted(bool deleted);
    // The base fields first, then every field whose beginning matches a tag, case-insensitive,
    // in any order: "<IS>" selected when the next character is '1' (only that); "<CI>" decimal
    // collect-file number; "<BFQ>" frequency with automatic base ("0x" hex, "0" octal, else
    // decimal; the record keeps the low four bits); "<ACL>" ACL only when the next character is
    // '1'. Other fields are ignored; a missing tag leaves its default. Always success.
    [[nodiscard]] CKxError ParseFields(const std::vector<std::string>& fields) override;
    virtual bool isSelected() const;
    virtual void SetIsSelected(bool selected);
    virtual int GetCollectFileId() const;
    virtual void SetCollectFileId(int collectFileId);
    virtual eDirChangeItemBackupFrequency GetBackupFrequency() const;
    virtual void SetBackupFrequency(eDirChangeItemBackupFrequency frequency);
    virtual bool IsACLOnly() const;
    virtual void SetACLOnly(bool aclOnly);

    // Field parsing shared with the version 2 record. `field` starts with `tag` (any case).
    static bool HasTag(std::string_view field, std::string_view tag);
    // strtoll with base 0 over the whole rest; 0 when it holds no number.
    static long long ParseAutoBase(std::string_view text);

protected:
    CDirChangeItemInfo() = default;
    CDirChangeItemInfo(bool selected, int collectFileId, eDirChangeItemBackupFrequency frequency, bool aclOnly);

private:
    static constexpr std::uint8_t kFrequencyMask = 0x0F;
    static constexpr std::uint8_t kDeleted = 1u << 4;
    static constexpr std::uint8_t kSelected = 1u << 5;
    static constexpr std::uint8_t kACLOnly = 1u << 6;
    void SetFlag(std::uint8_t flag, bool on) { m_flags = on ? (m_flags | flag) : (m_flags & ~flag); }

    std::int32_t m_collectFileId = 0;
    std::uint8_t m_flags = 0;
};

using CDirChangeItemInfoPtr = std::shared_ptr<CDirChangeItemInfo>;
