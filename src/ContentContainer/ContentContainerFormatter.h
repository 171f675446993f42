#pragma once
// CX::CContentContainerFormatter: the metadata text the database keeps per folder and file, a
// small XML document:
//
//   <Metadata><Filesystem CreationTime="0" ModifiedTime="t" AccessTime="t" ChangeTime="t"
//     FileSize="n" Folder="true" FileId="0x00000000000000FF"/><State Collect="true"/></Metadata>
//
// Times are seconds since 1970 (the file system keeps no creation time here: 0). "Folder" is
// present only for folders, "FileId" (the inode, "0x" and 16 upper-case hex digits) only when
// not 0, "State" only once the item is in a collect file. A folder that a file reached before
// the folder itself carries only "Folder" (and "FileId" when known).
//
// The text is written directly, not through a document tree: one per item on the walk's hot
// path. Attribute values are numbers or fixed words, so nothing needs escaping; every text
// this class writes parses as XML and reads back the same values (a test checks each kind).
//
// Thread: stateless; any thread.
#include "Base/KxError.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace CX {

struct SItemMetadata {
    std::int64_t modifiedTime = 0;
    std::int64_t accessTime = 0;
    std::int64_t changeTime = 0;
    std::int64_t fileSize = 0;
    std::uint64_t fileId = 0;
    bool folder = false;
    bool collect = false;
};

class CContentContainerFormatter {
public:
    enum class EMetadataType { Collect = 0 };

    // Appends the item's document to `out`.
    static void CreateMetadata(const SItemMetadata& item, std::string& out);
    // Appends the document of a folder known only as the parent of a file.
    static void CreateParentMetadata(std::uint64_t fileId, std::string& out);
    // Collect: the "State" element gets Collect="true" Updated="true" (added when absent).
    // Error 13 "LoadFromString failed, Metadata=[...]" for a text this class did not write.
    [[nodiscard]] static CKxError UpdateMetadata(std::string& metadata, EMetadataType type);
    // Whether the document carries the collect mark.
    static bool HasCollectMark(std::string_view metadata);
};

}  // namespace CX
