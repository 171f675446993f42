#pragma once
// CItem: one file-system item as the scan engine hands it to the item consumers.
//
// Names: the local path is where the item lies on this machine; the source path is the name
// it is backed up under (the content mapper's translation; the same text when no mapper
// translates). Both are byte strings: any byte but NUL may appear, including newlines and
// invalid UTF-8.
//
// Errors: an item carries its own error number (an errno value, 0 when healthy). The engine
// sets it, and writes the same number into the item bag as "errorCode", before it hands an
// unreadable item to the failure consumer. A consumer that fails to read the source item
// itself (a link that cannot be read, a vanished file) sets it too before returning its
// error: that is how the engine tells "this item could not be read" (the item goes to the
// failure list, the walk goes on) from "our own file could not be written" (the walk stops).
//
// Ownership and reuse: items are shared (CItemPtr). After Process returns, the engine reuses
// an item object for the next entry only when it holds the sole reference; a consumer that
// needs the item later simply keeps its CItemPtr, and the engine then allocates a new one.
// A consumer must not keep a raw pointer or reference to an item past Process.
//
// Thread: an item is touched by one thread at a time (the worker that reports it); it is not
// internally locked, except its bag.
#include "Base/Bag.h"
#include "Base/TimeStamp.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// Optional per-item extensions a special engine may attach (none of the engines here do).
class CItemInterface {
public:
    virtual ~CItemInterface() = default;
};
using CItemInterfacePtr = std::shared_ptr<CItemInterface>;

class CItem {
public:
    // Bits of the flag byte.
    enum EFlag : std::uint8_t {
        FlagNewInImage = 1u << 0,
        FlagSelected = 1u << 1,
        FlagAppleDoubleFile = 1u << 2,
        FlagAdHocItem = 1u << 3,
        FlagSelectedForAccess = 1u << 4,
    };
    // Bag key of the error number of an unreadable item (int).
    static constexpr const char* ErrorCodeKey = "errorCode";

    CItem() = default;
    // A placeholder item for a path (failed content, commit and failed-file replays): no
    // status is known beyond the kind; the source path equals the local path.
    CItem(std::string localPath, bool isFolder);
    CItem(std::string localPath, std::string sourcePath, bool isFolder);
    CItem(const CItem&) = delete;
    CItem& operator=(const CItem&) = delete;
    virtual ~CItem();

    // Names.
    const std::string& GetLocalFullyQualifiedItemName() const { return m_localPath; }
    const std::string& GetSourceFullyQualifiedItemName() const
    {
        return m_sourcePath.empty() ? m_localPath : m_sourcePath;
    }
    // The last component of the local path ("" for "/").
    std::string_view GetItemName() const;
    // The local path of the folder holding the item ("/" for a top-level item).
    std::string GetLocalParentPath() const;

    // Status. Times are whole seconds; GetFileMode is the st_mode bits (type and permissions;
    // a placeholder has only the type bits).
    CTimeStamp GetLastWriteTime() const { return CTimeStamp(m_lastWriteTime); }
    CTimeStamp GetLastChangeTime() const { return CTimeStamp(m_lastChangeTime); }
    CTimeStamp GetLastAccessTime() const { return CTimeStamp(m_lastAccessTime); }
    std::uint64_t GetFileSize() const { return m_fileSize; }
    // Bytes allocated on disk (a raw device: its size).
    virtual std::uint64_t GetSizeOnDisk() const { return m_fileSize; }
    // Names the item has in its file system; 1 for an item not read from one.
    virtual std::uint64_t GetLinkCount() const { return 1; }
    std::uint32_t GetFileMode() const { return m_mode; }
    bool IsFolder() const;
    bool IsRegularFile() const;
    bool IsSymbolicLink() const;
    // Data moved to secondary storage; the item is a stub.
    bool IsOffline() const { return m_offline; }
    void SetOffline(bool offline) { m_offline = offline; }

    // Flag byte.
    std::uint8_t GetFlags() const { return m_flags; }
    void SetFlags(std::uint8_t flags) { m_flags = flags; }
    bool isNewInImage() const { return (m_flags & FlagNewInImage) != 0; }
    void setNewInImage(bool on = true) { SetFlag(FlagNewInImage, on); }
    bool IsSelected() const { return (m_flags & FlagSelected) != 0; }
    void SetSelected(bool on) { SetFlag(FlagSelected, on); }
    bool IsAppleDoubleFile() const { return (m_flags & FlagAppleDoubleFile) != 0; }
    void SetAppleDoubleFile(bool on) { SetFlag(FlagAppleDoubleFile, on); }
    bool IsAdHocItem() const { return (m_flags & FlagAdHocItem) != 0; }
    void SetAdHocItem(bool on) { SetFlag(FlagAdHocItem, on); }
    bool IsSelectedForAccess() const { return (m_flags & FlagSelectedForAccess) != 0; }
    void SetSelectedForAccess(bool on) { SetFlag(FlagSelectedForAccess, on); }

    // The item's own error number (errno), 0 when the item was read without trouble.
    int GetErrorNumber() const { return m_errorNumber; }
    // Sets the number and writes it into the bag as "errorCode".
    void SetErrorNumber(int errorNumber);

    // The item bag, created on first use (items that no consumer annotates cost no bag).
    CBag& GetBag();
    bool HasBag() const { return static_cast<bool>(m_bag); }
    // The bag of the work unit the item was found in (may be empty for placeholders).
    const CBagPtr& GetWorkUnitBag() const { return m_workUnitBag; }
    void SetWorkUnitBag(CBagPtr bag) { m_workUnitBag = std::move(bag); }

    virtual CItemInterfacePtr GetInterface(int id) const;
    // "<kind> '<source path>'" for log lines.
    virtual std::string AsString() const;

    // Filled by the engine (and by tests and placeholder builders).
    void SetNames(std::string_view localPath, std::string_view sourcePath);
    void SetTimes(std::int64_t lastWrite, std::int64_t lastChange, std::int64_t lastAccess);
    void SetFileSize(std::uint64_t size) { m_fileSize = size; }
    void SetFileMode(std::uint32_t mode) { m_mode = mode; }
    // Back to the state of a fresh item for the next entry of the same work unit: keeps the
    // string capacity and the work-unit bag (the engine's reuse).
    virtual void Reset();

private:
    void SetFlag(std::uint8_t flag, bool on) { m_flags = on ? (m_flags | flag) : (m_flags & ~flag); }

    std::string m_localPath;
    std::string m_sourcePath;  // empty: same as the local path
    std::int64_t m_lastWriteTime = 0;
    std::int64_t m_lastChangeTime = 0;
    std::int64_t m_lastAccessTime = 0;
    std::uint64_t m_fileSize = 0;
    std::uint32_t m_mode = 0;
    int m_errorNumber = 0;
    std::uint8_t m_flags = 0;
    bool m_offline = false;
    std::unique_ptr<CBag> m_bag;
    CBagPtr m_workUnitBag;
};

using CItemPtr = std::shared_ptr<CItem>;
