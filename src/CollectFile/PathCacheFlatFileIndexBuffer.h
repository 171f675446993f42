#pragma once
// CPathCacheFlatFileIndexBuffer: the writer of one output stage into the shared
// directory-change index. Worker threads add entries; each thread stages its own (no lock per
// entry), grouped by folder, and hands its groups over in large batches: each group becomes
// one chunk, sorted by name, appended to the index under the index's lock.
//
// Order: the entries one thread adds to one folder stay in the order given (a later entry for
// the same path and kind wins); what different threads add interleaves by hand-over.
//
// Failures: a failed hand-over (a write error of the index file) is returned by the add that
// met it, by FlushBuffer and by CloseFile; `where` and `caller` of the add name the place that
// asked for it in the message.
//
// Thread: AddFolder and AddFile from any thread. FlushBuffer and CloseFile belong to the
// owner and run once the adding threads are done, never beside an add.
#include "Base/FXCodeLocation.h"
#include "Base/KxError.h"
#include "CollectFile/DirChangeStaging.h"
#include "CollectFile/FVBase.h"

#include <memory>
#include <string>
#include <string_view>

class CPathCacheFlatFileIndex;

class CPathCacheFlatFileIndexBuffer {
public:
    explicit CPathCacheFlatFileIndexBuffer(std::shared_ptr<CPathCacheFlatFileIndex> index);
    CPathCacheFlatFileIndexBuffer(const CPathCacheFlatFileIndexBuffer&) = delete;
    CPathCacheFlatFileIndexBuffer& operator=(const CPathCacheFlatFileIndexBuffer&) = delete;
    // Staged entries not flushed are lost (the owner flushes; a destructor cannot report).
    ~CPathCacheFlatFileIndexBuffer();

    // `path`: source path without trailing '/'. Empty path: error 87.
    [[nodiscard]] CKxError AddFolder(const std::string& path, const FXCodeLocation& where, const char* caller,
                                     const FVBasePtr& record);
    [[nodiscard]] CKxError AddFile(const std::string& path, const FXCodeLocation& where, const char* caller,
                                   const FVBasePtr& record);
    // As AddFolder / AddFile with the record text already made: `text` must be what the index's
    // formatter makes of the record ("" or beginning with '|', no newline; otherwise error 87).
    // Inline: it is the walk's per-item path.
    [[nodiscard]] CKxError AddText(const std::string& path, bool isFile, std::string_view text,
                                   const FXCodeLocation& where, const char* caller)
    {
        CKxError added = m_staging->AddText(path, isFile, text);
        if (added.IsSuccess()) [[likely]]
            return added;
        return Located(std::move(added), path, isFile, where, caller);
    }
    // Every thread's staged entries reach the index.
    [[nodiscard]] CKxError FlushBuffer();
    // Flushes; later adds are errors (code 6).
    [[nodiscard]] CKxError CloseFile();
    const std::string& GetCurrentBackingFilePath() const;
    const std::shared_ptr<CPathCacheFlatFileIndex>& GetIndex() const { return m_index; }

private:
    // `added` with this buffer's file, the entry and the place that asked for it pushed.
    CKxError Located(CKxError added, const std::string& path, bool isFile, const FXCodeLocation& where,
                     const char* caller) const;

    std::shared_ptr<CPathCacheFlatFileIndex> m_index;
    std::unique_ptr<CDirChangeStaging> m_staging;
};

using CPathCacheFlatFileIndexBufferPtr = std::shared_ptr<CPathCacheFlatFileIndexBuffer>;
