#pragma once
// CExtentLevelBackupConsumer: marks large files to be backed up by extents, so that several
// streams can read one file. A regular file qualifies when it is not an AppleDouble file, has
// at most one link when hard links are handled, has a source path of at most 5999 characters
// and a size of at least the threshold ("SC:ExtentBackupFileSize"); a raw device qualifies by
// its size on disk. A qualified item gets, in its bag, "ExtentQualifiedFile" = true,
// "ExtentBackupFileExtentSize" (the extent size for its size) and
// "ExtentFeatureEnabledExplicitly" (the keys of CExtentLine, which the collect file reads to
// write the item's extent-qualified line). All items pass.
//
// Extent sizes come from the slab table ("RegKey:ExtentBackupFileExtentSlabsKey"): entries
// "<largest file size>:<extent size>" separated by ',', ';', blanks or newlines, sizes in bytes
// or with a K, M, G or T suffix (powers of 1024). A file takes the entry of the first largest
// size not below its own; beyond every entry (or without a table) the extent size is 4 MiB.
//
// Thread: read-only after construction; any thread.
#include "Engine/ItemConsumerChain.h"

#include <cstdint>
#include <map>
#include <string>

class CExtentLevelBackupConsumer : public CItemConsumerChain {
public:
    static constexpr size_t kMaxSourcePath = 5999;

    CExtentLevelBackupConsumer(CItemConsumerPtr next, bool hardLinks, std::uint64_t threshold,
                               const std::string& slabs, bool enabledExplicitly, long long jobId = 0);
    ~CExtentLevelBackupConsumer() override;

    [[nodiscard]] CKxError Process(const CItemPtr& item) override;

    std::uint64_t ExtentSizeFor(std::uint64_t size) const;
    // Largest file size -> extent size; malformed entries are logged and left out.
    static std::map<std::uint64_t, std::uint64_t> ParseSlabs(const std::string& slabs);

private:
    bool m_hardLinks;
    std::uint64_t m_threshold;
    std::map<std::uint64_t, std::uint64_t> m_slabs;
    bool m_enabledExplicitly;
};
