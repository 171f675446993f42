#include "ContentContainer/ContentContainerDirChange.h"

#include "Base/LogWriter.h"

#include <algorithm>
#include <vector>

namespace CX {

namespace {
std::atomic<std::uint64_t> g_nextInstance{1};

struct SFolderCache {
    std::uint64_t instance = 0;
    std::string folder;
    std::vector<std::string> names;  // sorted; empty when the folder is unknown
};
thread_local SFolderCache t_cache;
}  // namespace

CContentContainerDirChange::CContentContainerDirChange() : m_instance(g_nextInstance.fetch_add(1)) {}

CContentContainerDirChange::~CContentContainerDirChange() = default;

CKxError CContentContainerDirChange::Open(const std::string& path)
{
    m_container.SetName(path);
    KX_RETURN_IF_ERROR(m_container.OpenForReading());
    m_open = true;
    return CKxError::Success();
}

bool CContentContainerDirChange::Answer(const CKxError& result, std::string_view path)
{
    if (result.IsSuccess())
        return true;
    // A database that cannot be read answers "not found": the item is taken, which is safe.
    if (result.Code() != KxCode::NotFound && !m_failureLogged.exchange(true))
        FSLOG_ERROR("Failed to look [%.*s] up in the previous database, items are taken as new: %s",
                    static_cast<int>(path.size()), path.data(), result.AsString().c_str());
    return false;
}

bool CContentContainerDirChange::Lookup(std::string_view path, EKind kind, FVBasePtr* record)
{
    if (record)
        record->reset();
    if (!m_open)
        return false;
    if (kind == eFolder) {
        std::int64_t id = 0;
        bool carried = false;
        return Answer(m_container.QueryFolderId(path, id, &carried), path) && !carried;
    }

    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return false;
    const std::string_view folder = slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
    const std::string_view name = path.substr(slash + 1);
    SFolderCache& cache = t_cache;
    if (cache.instance != m_instance || cache.folder != folder) {
        cache.instance = 0;
        cache.folder.assign(folder);
        cache.names.clear();
        if (!Answer(m_container.ListFileNames(folder, cache.names), folder))
            cache.names.clear();
        cache.instance = m_instance;
    }
    // SQLite returns the names in byte order; std::string compares bytes as unsigned too.
    return std::binary_search(cache.names.begin(), cache.names.end(), name,
                              [](std::string_view left, std::string_view right) { return left < right; });
}

}  // namespace CX
