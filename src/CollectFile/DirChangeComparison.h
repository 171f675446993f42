#pragma once
// CDirChangeComparison: one comparison of two directory-change files (or of a closed previous
// file and the current file being written): a streaming merge of their folder indexes in path
// order and, per folder, of the folder's merged entries. Memory: the two folder indexes and
// the entries of one folder per side.
//
// What is reported (see CPathCacheFlatFileIndexCompareCallback): an entry in both folders:
// in both; only in the first: deleted, and a deleted folder's question whether to recurse
// decides whether the chunks below it are reported (each entry deleted) or skipped; only in
// the second: new. A folder whose chunks are only in the first and that lies below no deleted
// folder was emptied: its entries are deleted.
//
// Thread: one comparison runs on one thread.
#include "Base/KxError.h"
#include "CollectFile/DirChangeChunkReader.h"
#include "CollectFile/DirChangeFileLayout.h"
#include "CollectFile/DirChangeFolderEntries.h"
#include "CollectFile/DirChangeItemBaseParser.h"
#include "Base/DirChangePathOrder.h"

#include <map>
#include <string>
#include <vector>

class CPathCacheFlatFileIndexCompareCallback;

// One file of a comparison: its descriptor, path, chunks and parser. No chunks: an empty side.
struct SDirChangeComparisonSide {
    int fd = -1;
    std::string path;
    // In path order of folders, a folder's chunks by offset.
    std::vector<const DirChangeFileLayout::SChunkRef*> chunks;
    CDirChangeItemBaseParserPtr parser;
    // The end of the chunks' bytes: nothing below it changes while the comparison runs.
    std::uint64_t dataEnd = 0;
};

class CDirChangeComparison {
public:
    using SSide = SDirChangeComparisonSide;

    CDirChangeComparison(SSide first, SSide second, bool avoidEmptyRecords,
                         CPathCacheFlatFileIndexCompareCallback& callback);

    [[nodiscard]] CKxError Run();

    // Makes the record of `text` with `parser` (null when `text` is empty and `avoidEmpty`).
    [[nodiscard]] static CKxError MakeRecord(const CDirChangeItemBaseParser& parser, std::string_view text,
                                             bool avoidEmpty, FVBasePtr& record);

private:
    struct SPathLess {
        bool operator()(const std::string& a, const std::string& b) const { return DirChangePathOrder::Less(a, b); }
    };

    CKxError Folder(std::string_view folder, size_t firstBegin, size_t firstEnd, size_t secondBegin,
                    size_t secondEnd);
    // True when the folder's chunks in the second file are kept copies of its chunks in the first.
    bool KeptCopies(size_t firstBegin, size_t firstEnd, size_t secondBegin, size_t secondEnd) const;
    // True when the folder's single chunk in each file holds the same bytes (and they match
    // their hash): every entry is then in both, with the same record.
    [[nodiscard]] CKxError SameChunk(const DirChangeFileLayout::SChunkRef& first,
                                     const DirChangeFileLayout::SChunkRef& second, bool& same);
    CKxError Deleted(const CDirChangeFolderEntries::SEntry& entry);
    CKxError New(const CDirChangeFolderEntries::SEntry& entry);
    CKxError Both(const CDirChangeFolderEntries::SEntry& first, const CDirChangeFolderEntries::SEntry& second);
    // Forgets deleted folders whose subtrees lie before `folder`.
    void PruneDeleted(const std::string& folder);
    // The answer of the nearest deleted folder that is `folder` or holds it: true when one is
    // found, `recurse` its answer.
    bool NearestDeleted(const std::string& folder, bool& recurse) const;
    void SetPath(std::string_view name);

    SSide m_first;
    SSide m_second;
    bool m_avoidEmpty;
    CPathCacheFlatFileIndexCompareCallback& m_callback;
    bool m_wantsBoth = true;  // the callback's answer, asked when the comparison starts
    std::map<std::string, bool, SPathLess> m_deleted;  // deleted folder -> its descendants are visited
    CDirChangeChunkReader m_firstReader;
    CDirChangeChunkReader m_secondReader;
    CDirChangeFolderEntries m_firstEntries;
    CDirChangeFolderEntries m_secondEntries;
    std::string m_folder;  // the folder being merged
    std::string m_path;    // the path of the entry being reported
    std::string m_firstBytes;
    std::string m_secondBytes;
};
