#include "CollectFile/DirChangeComparison.h"

#include "Base/FileNameEscaping.h"
#include "CollectFile/PathCacheFlatFileIndexCompareCallback.h"

using DirChangeFileLayout::kFileKind;
using SEntry = CDirChangeFolderEntries::SEntry;

CDirChangeComparison::CDirChangeComparison(SSide first, SSide second, bool avoidEmptyRecords,
                                           CPathCacheFlatFileIndexCompareCallback& callback)
    : m_first(std::move(first)),
      m_second(std::move(second)),
      m_avoidEmpty(avoidEmptyRecords),
      m_callback(callback),
      m_firstReader(m_first.fd, m_first.path, m_first.dataEnd),
      m_secondReader(m_second.fd, m_second.path, m_second.dataEnd)
{
}

CKxError CDirChangeComparison::MakeRecord(const CDirChangeItemBaseParser& parser, std::string_view text,
                                          bool avoidEmpty, FVBasePtr& record)
{
    record.reset();
    if (text.empty() && avoidEmpty)
        return CKxError::Success();
    thread_local std::vector<std::string> fields;
    DirChangeFileLayout::SplitFields(text, fields);
    return parser.GetItemInfo(record, fields);
}

CKxError CDirChangeComparison::Run()
{
    m_wantsBoth = m_callback.WantsInBothIndexes();
    const auto& a = m_first.chunks;
    const auto& b = m_second.chunks;
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() || j < b.size()) {
        int order;
        if (i == a.size())
            order = 1;
        else if (j == b.size())
            order = -1;
        else
            order = DirChangePathOrder::Compare(a[i]->folder, b[j]->folder);
        const std::string_view folder = order <= 0 ? a[i]->folder : b[j]->folder;
        size_t iEnd = i;
        size_t jEnd = j;
        if (order <= 0)
            while (iEnd < a.size() && a[iEnd]->folder == folder)
                ++iEnd;
        if (order >= 0)
            while (jEnd < b.size() && b[jEnd]->folder == folder)
                ++jEnd;
        KX_RETURN_IF_ERROR(Folder(folder, i, iEnd, j, jEnd));
        i = iEnd;
        j = jEnd;
    }
    return CKxError::Success();
}

CKxError CDirChangeComparison::Folder(std::string_view folder, size_t firstBegin, size_t firstEnd,
                                      size_t secondBegin, size_t secondEnd)
{
    m_folder = folder;
    if (!m_deleted.empty())
        PruneDeleted(m_folder);
    const bool inFirst = firstBegin != firstEnd;
    const bool inSecond = secondBegin != secondEnd;
    if (inFirst && !inSecond) {
        bool recurse = false;
        if (NearestDeleted(m_folder, recurse) && !recurse)
            return CKxError::Success();  // reported once as its deleted folder
    }
    if (inFirst && inSecond && KeptCopies(firstBegin, firstEnd, secondBegin, secondEnd))
        return CKxError::Success();
    if (inFirst && inSecond && firstEnd - firstBegin == 1 && secondEnd - secondBegin == 1) {
        const DirChangeFileLayout::SChunkRef& first = *m_first.chunks[firstBegin];
        const DirChangeFileLayout::SChunkRef& second = *m_second.chunks[secondBegin];
        // Unchanged folders are the usual case between two jobs: nothing in them needs a call.
        bool same = false;
        if (!m_wantsBoth)
            KX_RETURN_IF_ERROR(SameChunk(first, second, same));
        if (same)
            return CKxError::Success();
    }
    if (inFirst)
        KX_RETURN_IF_ERROR(m_firstEntries.Load(m_firstReader, m_first.chunks.data() + firstBegin, firstEnd - firstBegin));
    if (inSecond)
        KX_RETURN_IF_ERROR(
            m_secondEntries.Load(m_secondReader, m_second.chunks.data() + secondBegin, secondEnd - secondBegin));
    static const std::vector<SEntry> kNone;
    const std::vector<SEntry>& x = inFirst ? m_firstEntries.Entries() : kNone;
    const std::vector<SEntry>& y = inSecond ? m_secondEntries.Entries() : kNone;
    size_t i = 0;
    size_t j = 0;
    while (i < x.size() || j < y.size()) {
        int order;
        if (i == x.size())
            order = 1;
        else if (j == y.size())
            order = -1;
        else {
            order = x[i].name.compare(y[j].name);
            if (order == 0)
                order = x[i].kind < y[j].kind ? -1 : (x[i].kind > y[j].kind ? 1 : 0);
        }
        if (order < 0)
            KX_RETURN_IF_ERROR(Deleted(x[i++]));
        else if (order > 0)
            KX_RETURN_IF_ERROR(New(y[j++]));
        else
            KX_RETURN_IF_ERROR(Both(x[i++], y[j++]));
    }
    return CKxError::Success();
}

bool CDirChangeComparison::KeptCopies(size_t firstBegin, size_t firstEnd, size_t secondBegin, size_t secondEnd) const
{
    // A kept chunk is a copy of one of the previous file's (its hash was checked when that file
    // was loaded). When the folder's chunks here are copies of each of its chunks there (same
    // hash and length, each once), every entry is in both and kept, which makes no call; the
    // same entry wins in both, as the copies keep the order in which chunks win. A folder
    // written in several pieces has several chunks: this is how a journal job's comparison
    // passes over the folders it kept without reading them.
    constexpr size_t kMostChunks = 8;
    const size_t count = firstEnd - firstBegin;
    if (count != secondEnd - secondBegin || count > kMostChunks)
        return false;
    bool matched[kMostChunks] = {};
    for (size_t j = secondBegin; j < secondEnd; ++j) {
        const DirChangeFileLayout::SChunkRef& second = *m_second.chunks[j];
        if (!(second.flags & DirChangeFileLayout::kChunkKept))
            return false;
        size_t i = 0;
        for (; i < count; ++i) {
            const DirChangeFileLayout::SChunkRef& first = *m_first.chunks[firstBegin + i];
            if (!matched[i] && first.hash == second.hash && first.length == second.length)
                break;
        }
        if (i == count)
            return false;
        matched[i] = true;
    }
    return true;
}

CKxError CDirChangeComparison::SameChunk(const DirChangeFileLayout::SChunkRef& first,
                                        const DirChangeFileLayout::SChunkRef& second, bool& same)
{
    same = false;
    if (first.length != second.length || first.hash != second.hash)
        return CKxError::Success();
    m_firstBytes.clear();
    m_secondBytes.clear();
    KX_RETURN_IF_ERROR(m_firstReader.Read(first.offset, first.length, m_firstBytes));
    KX_RETURN_IF_ERROR(m_secondReader.Read(second.offset, second.length, m_secondBytes));
    // Equal bytes under equal stored hashes: one check covers both. Anything else is left to
    // the full merge, which also reports a damaged chunk.
    same = m_firstBytes == m_secondBytes && DirChangeFileLayout::Hash64(m_firstBytes) == first.hash;
    return CKxError::Success();
}

void CDirChangeComparison::SetPath(std::string_view name)
{
    m_path.clear();
    DirChangePathOrder::AppendJoined(m_folder, name, m_path);
}

CKxError CDirChangeComparison::Deleted(const SEntry& entry)
{
    SetPath(entry.name);
    FVBasePtr record;
    KX_RETURN_IF_FAILED(MakeRecord(*m_first.parser, entry.text, m_avoidEmpty, record),
                        "Failed to read the record of '%s' in '%s'", escapeFileName(m_path).c_str(),
                        m_first.path.c_str());
    const bool isFile = entry.kind == kFileKind;
    KX_RETURN_IF_FAILED(m_callback.OnInIndex1(m_path, isFile, record), "Comparison stopped at deleted '%s'",
                        escapeFileName(m_path).c_str());
    if (!isFile) {
        bool recurse = false;
        KX_RETURN_IF_FAILED(m_callback.OnInIndex1RecurseIntoDeletedFolder(m_path, record, recurse),
                            "Comparison stopped at deleted folder '%s'", escapeFileName(m_path).c_str());
        m_deleted[m_path] = recurse;
    }
    return CKxError::Success();
}

CKxError CDirChangeComparison::New(const SEntry& entry)
{
    SetPath(entry.name);
    FVBasePtr record;
    KX_RETURN_IF_FAILED(MakeRecord(*m_second.parser, entry.text, m_avoidEmpty, record),
                        "Failed to read the record of '%s' in '%s'", escapeFileName(m_path).c_str(),
                        m_second.path.c_str());
    KX_RETURN_IF_FAILED(m_callback.OnInIndex2(m_path, entry.kind == kFileKind, record), "Comparison stopped at new '%s'",
                        escapeFileName(m_path).c_str());
    return CKxError::Success();
}

CKxError CDirChangeComparison::Both(const SEntry& first, const SEntry& second)
{
    // A kept entry is the previous record itself: this job did not look at the item again, so
    // there is nothing to say about it.
    if (!m_wantsBoth || second.kept)
        return CKxError::Success();
    SetPath(first.name);
    FVBasePtr firstRecord;
    FVBasePtr secondRecord;
    KX_RETURN_IF_FAILED(MakeRecord(*m_first.parser, first.text, m_avoidEmpty, firstRecord),
                        "Failed to read the record of '%s' in '%s'", escapeFileName(m_path).c_str(),
                        m_first.path.c_str());
    KX_RETURN_IF_FAILED(MakeRecord(*m_second.parser, second.text, m_avoidEmpty, secondRecord),
                        "Failed to read the record of '%s' in '%s'", escapeFileName(m_path).c_str(),
                        m_second.path.c_str());
    KX_RETURN_IF_FAILED(m_callback.OnInBothIndexes(m_path, first.kind == kFileKind, firstRecord, secondRecord),
                        "Comparison stopped at '%s'", escapeFileName(m_path).c_str());
    return CKxError::Success();
}

void CDirChangeComparison::PruneDeleted(const std::string& folder)
{
    // Folders come in path order and a subtree is one run of it: a deleted folder that sorts
    // before `folder` without holding it has no chunk left to come.
    auto it = m_deleted.begin();
    while (it != m_deleted.end() && DirChangePathOrder::Less(it->first, folder)) {
        if (DirChangePathOrder::IsSameOrBelow(it->first, folder))
            ++it;
        else
            it = m_deleted.erase(it);
    }
}

bool CDirChangeComparison::NearestDeleted(const std::string& folder, bool& recurse) const
{
    // After pruning, every deleted folder before `folder` holds it, so the last one at or
    // before `folder` is the nearest.
    auto it = m_deleted.upper_bound(folder);
    if (it == m_deleted.begin())
        return false;
    --it;
    if (!DirChangePathOrder::IsSameOrBelow(it->first, folder))
        return false;
    recurse = it->second;
    return true;
}
