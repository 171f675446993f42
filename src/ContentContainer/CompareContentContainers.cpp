#include "ContentContainer/CompareContentContainers.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <unistd.h>

namespace CX {

namespace {
std::string_view Bytes(sqlite3_stmt* statement, int column)
{
    const void* data = sqlite3_column_blob(statement, column);
    return {static_cast<const char*>(data), static_cast<size_t>(sqlite3_column_bytes(statement, column))};
}

// Byte order, as SQLite sorts blobs.
int CompareBytes(std::string_view left, std::string_view right)
{
    const size_t length = std::min(left.size(), right.size());
    const int common = length == 0 ? 0 : std::memcmp(left.data(), right.data(), length);
    if (common != 0)
        return common;
    return left.size() < right.size() ? -1 : (left.size() > right.size() ? 1 : 0);
}

// Which side of a merge of two sorted statements comes first: < 0 the previous row, > 0 the
// current one, 0 both (on the key in `column`); a finished side always comes last.
int MergeOrder(int previousStep, sqlite3_stmt* previous, int currentStep, sqlite3_stmt* current, int column)
{
    if (previousStep != SQLITE_ROW)
        return 1;
    if (currentStep != SQLITE_ROW)
        return -1;
    return CompareBytes(Bytes(previous, column), Bytes(current, column));
}

std::string Join(const std::string& folder, std::string_view name)
{
    std::string path = folder;
    if (path.empty() || path.back() != '/')
        path.push_back('/');
    path.append(name);
    return path;
}

// Whether a folder reported deleted holds `path`.
bool BelowDeleted(const std::unordered_set<std::string>& deleted, std::string_view path)
{
    while (!deleted.empty()) {
        const size_t slash = path.rfind('/');
        if (slash == std::string_view::npos || path.size() <= 1)
            return false;
        path = path.substr(0, slash == 0 ? 1 : slash);
        if (deleted.contains(std::string(path)))
            return true;
    }
    return false;
}
}  // namespace

CCompareContentContainers::CCompareContentContainers(std::string previousDatabase, CContentContainer& current,
                                                     CCompareContentContainersCallback& callback)
    : m_previousDatabase(std::move(previousDatabase)), m_current(current), m_callback(callback)
{
}

CKxError CCompareContentContainers::CompareDatabases()
{
    std::lock_guard lock(m_current.m_connectionLock);
    if (!m_current.m_db)
        return CKxError(KxCode::InvalidParameter, KxFormat("The database [%s] is not open", m_current.m_name.c_str()));
    // ATTACH would create a missing file.
    if (::access(m_previousDatabase.c_str(), F_OK) != 0)
        return CKxError(KxCode::NotFound, KxFormat("The database [%s] does not exist", m_previousDatabase.c_str()));
    CContentContainer::StatementPtr attach;
    KX_RETURN_IF_ERROR(m_current.Prepare("ATTACH ?1 AS prev", attach));
    sqlite3_bind_text(attach.get(), 1, m_previousDatabase.c_str(), -1, SQLITE_STATIC);
    if (const int result = sqlite3_step(attach.get()); result != SQLITE_DONE)
        return m_current.Failed(result, KxFormat("Failed to attach [%s] to", m_previousDatabase.c_str()));
    attach.reset();
    CKxError merged = Merge();
    m_previousFiles.reset();
    m_currentFiles.reset();
    if (CKxError detached = m_current.Execute("DETACH prev"); detached.IsError() && merged.IsSuccess())
        merged = std::move(detached);
    if (merged.IsError())
        return std::move(merged.Push(KxFormat("Failed to compare [%s] with [%s]", m_previousDatabase.c_str(),
                                              m_current.m_name.c_str())));
    return CKxError::Success();
}

CKxError CCompareContentContainers::Merge()
{
    CContentContainer::StatementPtr previousFolders, currentFolders;
    KX_RETURN_IF_ERROR(m_current.Prepare("SELECT id, path FROM prev.folders ORDER BY path", previousFolders));
    KX_RETURN_IF_ERROR(m_current.Prepare("SELECT id, path FROM main.folders ORDER BY path", currentFolders));
    KX_RETURN_IF_ERROR(m_current.Prepare("SELECT name FROM prev.files WHERE parent=?1 ORDER BY name", m_previousFiles));
    KX_RETURN_IF_ERROR(
        m_current.Prepare("SELECT name, metadata FROM main.files WHERE parent=?1 ORDER BY name", m_currentFiles));

    std::unordered_set<std::string> deleted;
    sqlite3_stmt* previous = previousFolders.get();
    sqlite3_stmt* current = currentFolders.get();
    int previousStep = sqlite3_step(previous);
    int currentStep = sqlite3_step(current);
    while (previousStep == SQLITE_ROW || currentStep == SQLITE_ROW) {
        const int order = MergeOrder(previousStep, previous, currentStep, current, 1);
        if (order < 0) {
            const std::string path(Bytes(previous, 1));
            if (!BelowDeleted(deleted, path)) {
                KX_RETURN_IF_ERROR(m_callback.OnFolderInIndex1(path));
                deleted.insert(path);
            }
            previousStep = sqlite3_step(previous);
        } else if (order > 0) {
            const std::string path(Bytes(current, 1));
            KX_RETURN_IF_ERROR(m_callback.OnFolderInIndex2(path));
            KX_RETURN_IF_ERROR(MergeFiles(path, -1, sqlite3_column_int64(current, 0)));
            currentStep = sqlite3_step(current);
        } else {
            const std::string path(Bytes(current, 1));
            KX_RETURN_IF_ERROR(MergeFiles(path, sqlite3_column_int64(previous, 0), sqlite3_column_int64(current, 0)));
            previousStep = sqlite3_step(previous);
            currentStep = sqlite3_step(current);
        }
    }
    if (previousStep != SQLITE_DONE)
        return m_current.Failed(previousStep, "Failed to read the folders of the previous database beside");
    if (currentStep != SQLITE_DONE)
        return m_current.Failed(currentStep, "Failed to read the folders of");
    return CKxError::Success();
}

CKxError CCompareContentContainers::MergeFiles(const std::string& folder, long long previousId, long long currentId)
{
    sqlite3_stmt* previous = m_previousFiles.get();
    sqlite3_stmt* current = m_currentFiles.get();
    sqlite3_reset(previous);
    sqlite3_reset(current);
    sqlite3_bind_int64(previous, 1, previousId);
    sqlite3_bind_int64(current, 1, currentId);
    // A folder only in the current database has no previous files (id -1 matches none).
    int previousStep = sqlite3_step(previous);
    int currentStep = sqlite3_step(current);
    while (previousStep == SQLITE_ROW || currentStep == SQLITE_ROW) {
        const int order = MergeOrder(previousStep, previous, currentStep, current, 0);
        if (order < 0) {
            KX_RETURN_IF_ERROR(m_callback.OnFileInIndex1(Join(folder, Bytes(previous, 0))));
            previousStep = sqlite3_step(previous);
        } else if (order > 0) {
            KX_RETURN_IF_ERROR(m_callback.OnFileInIndex2(Join(folder, Bytes(current, 0)), Bytes(current, 1)));
            currentStep = sqlite3_step(current);
        } else {
            previousStep = sqlite3_step(previous);
            currentStep = sqlite3_step(current);
        }
    }
    if (previousStep != SQLITE_DONE)
        return m_current.Failed(previousStep, "Failed to read the files of the previous database beside");
    if (currentStep != SQLITE_DONE)
        return m_current.Failed(currentStep, "Failed to read the files of");
    return CKxError::Success();
}

}  // namespace CX
