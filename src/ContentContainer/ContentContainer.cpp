#include "ContentContainer/ContentContainer.h"

#include "Base/FXFile.h"
#include "Base/LogWriter.h"
#include "Base/OutputSync.h"
#include "ContentContainer/ContentContainerFormatter.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace CX {

namespace {
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS folders(id INTEGER PRIMARY KEY, path BLOB NOT NULL UNIQUE, metadata TEXT NOT NULL,"
    " time INTEGER NOT NULL, carried INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS files(parent INTEGER NOT NULL, name BLOB NOT NULL, metadata TEXT NOT NULL,"
    " time INTEGER NOT NULL, carried INTEGER NOT NULL DEFAULT 0, PRIMARY KEY(parent, name)) WITHOUT ROWID;";

// A zero-length blob needs a pointer that is not null, or SQLite stores NULL.
int BindBytes(sqlite3_stmt* statement, int index, std::string_view bytes)
{
    return sqlite3_bind_blob(statement, index, bytes.empty() ? "" : bytes.data(), static_cast<int>(bytes.size()),
                             SQLITE_STATIC);
}

int BindText(sqlite3_stmt* statement, int index, std::string_view text)
{
    return sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

// "/a/b" -> "/a" and "b"; "/a" -> "/" and "a".
void SplitPath(std::string_view path, std::string_view& parent, std::string_view& name)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) {
        parent = {};
        name = path;
        return;
    }
    parent = slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
    name = path.substr(slash + 1);
}

// Inserts `rows` files, or replaces those the database has (a file delivered twice).
std::string UpsertFilesSql(int rows)
{
    std::string sql = "INSERT INTO files(parent, name, metadata, time, carried) VALUES(?, ?, ?, ?, 0)";
    for (int row = 1; row < rows; ++row)
        sql += ", (?, ?, ?, ?, 0)";
    return sql + " ON CONFLICT(parent, name) DO UPDATE SET metadata=excluded.metadata, time=excluded.time, carried=0";
}

// Resets a statement and its bindings when the caller is done with it, whatever the outcome.
struct SResetOnExit {
    sqlite3_stmt* statement;
    ~SResetOnExit()
    {
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
    }
};
}  // namespace

void CContentContainer::SStatementDeleter::operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }

CContentContainer::CContentContainer() = default;

CContentContainer::~CContentContainer()
{
    if (CKxError closed = Close(); closed.IsError())
        FSLOG_ERROR("Failed to close the database [%s]: %s", m_name.c_str(), closed.AsString().c_str());
}

CKxError CContentContainer::Failed(int result, const std::string& what) const
{
    const std::string message = KxFormat("%s [%s]: %s (SQLite %d)", what.c_str(), m_name.c_str(),
                                         m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(result), result);
    const int error = m_db ? sqlite3_system_errno(m_db) : 0;
    if (error != 0 && (result & 0xFF) != SQLITE_CONSTRAINT)
        return CKxError::FromErrno(error, message);
    return CKxError(KxCode::InvalidData, message);
}

CKxError CContentContainer::Execute(const char* sql)
{
    const int result = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    return result == SQLITE_OK ? CKxError::Success() : Failed(result, KxFormat("Failed to run [%s] on", sql));
}

CKxError CContentContainer::Prepare(const char* sql, StatementPtr& statement)
{
    sqlite3_stmt* made = nullptr;
    const int result = sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &made, nullptr);
    statement.reset(made);
    return result == SQLITE_OK ? CKxError::Success() : Failed(result, KxFormat("Failed to prepare [%s] on", sql));
}

CKxError CContentContainer::OpenExistingOrCreate() { return Open(true); }

CKxError CContentContainer::OpenForReading()
{
    KX_RETURN_IF_ERROR(Verify(m_name));
    return Open(false);
}

CKxError CContentContainer::Verify(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT)
            return CKxError(KxCode::NotFound, KxFormat("The database [%s] does not exist", path.c_str()));
        return CKxError::FromErrno(error, KxFormat("Failed to open the database [%s]", path.c_str()));
    }
    unsigned char header[100] = {};
    struct stat status {};
    const bool read = ::pread(fd, header, sizeof header, 0) == static_cast<ssize_t>(sizeof header) &&
                      ::fstat(fd, &status) == 0;
    ::close(fd);
    // Page size at offset 16 (big-endian, 1 meaning 65536), page count at offset 28.
    std::uint64_t pageSize = (static_cast<std::uint64_t>(header[16]) << 8) | header[17];
    if (pageSize == 1)
        pageSize = 65536;
    const std::uint64_t pages = (static_cast<std::uint64_t>(header[28]) << 24) | (header[29] << 16) |
                                (header[30] << 8) | header[31];
    if (!read || std::memcmp(header, "SQLite format 3", 16) != 0 ||
        static_cast<std::uint64_t>(status.st_size) != pageSize * pages)
        return CKxError(KxCode::InvalidData,
                        KxFormat("The database [%s] is damaged: it is not whole (%lld bytes)", path.c_str(),
                                 static_cast<long long>(status.st_size)));
    return CKxError::Success();
}

CKxError CContentContainer::Open(bool write)
{
    std::lock_guard lock(m_connectionLock);
    if (m_db)
        return CKxError(KxCode::InvalidParameter, KxFormat("The database [%s] is open already", m_name.c_str()));
    // No link is followed to the file, and the connection is used under our own lock.
    const int flags = (write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY) |
                      SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW;
    const int result = sqlite3_open_v2(m_name.c_str(), &m_db, flags, nullptr);
    m_writable = write;
    CKxError opened = result == SQLITE_OK ? CKxError::Success() : Failed(result, "Failed to open the database");
    // One writer owns the file for the whole job; a batch is committed without waiting for the
    // disk (the rollback journal still undoes a batch a killed process left half written), and
    // Close syncs once.
    if (opened.IsSuccess() && write)
        opened = Execute("PRAGMA locking_mode=EXCLUSIVE; PRAGMA journal_mode=DELETE; PRAGMA synchronous=OFF;"
                         // Pages of 16 KiB: a quarter of the writes and b-tree steps of 4 KiB
                         // ones. The writes append, so a small cache does; each cached page
                         // costs far more than its size in the process, so it is kept at 2 MiB.
                         "PRAGMA cache_size=-2048; PRAGMA page_size=16384;");
    if (opened.IsSuccess() && write)
        opened = Execute(kSchema);
    if (opened.IsSuccess() && !write)
        // Nothing writes a previous database while a job reads it: one shared lock held for
        // the connection's life spares a lock, an unlock and a journal check per statement.
        opened = Execute("PRAGMA locking_mode=EXCLUSIVE; PRAGMA cache_size=-4096; PRAGMA query_only=1;");
    if (opened.IsSuccess() && write) {
        opened = Prepare("INSERT INTO folders(path, metadata, time, carried) VALUES(?1, ?2, ?3, 0) ON CONFLICT(path)"
                         " DO UPDATE SET metadata=excluded.metadata, time=excluded.time, carried=0",
                         m_upsertFolder);
        if (opened.IsSuccess())
            opened = Prepare(UpsertFilesSql(1).c_str(), m_upsertFile);
        if (opened.IsSuccess())
            opened = Prepare(UpsertFilesSql(kFilesPerInsert).c_str(), m_upsertFiles);
        if (opened.IsSuccess())
            opened = Prepare("UPDATE files SET metadata=?3 WHERE parent=?1 AND name=?2", m_updateFile);
    }
    if (opened.IsSuccess())
        opened = Prepare("SELECT id, carried, metadata FROM folders WHERE path=?1", m_folderId);
    if (opened.IsSuccess())
        opened = Prepare("SELECT metadata FROM files WHERE parent=?1 AND name=?2", m_file);
    if (opened.IsSuccess())
        opened = Prepare("SELECT f.name FROM folders d JOIN files f ON f.parent=d.id WHERE d.path=?1 AND d.carried=0"
                         " AND f.carried=0 ORDER BY f.name",
                         m_listFiles);
    if (opened.IsError()) {
        m_upsertFolder.reset(), m_upsertFile.reset(), m_upsertFiles.reset(), m_updateFile.reset();
        m_folderId.reset(), m_file.reset(), m_listFiles.reset();
        sqlite3_close(m_db);
        m_db = nullptr;
    }
    return opened;
}

CKxError CContentContainer::Close()
{
    std::lock_guard lock(m_connectionLock);
    if (!m_db)
        return CKxError::Success();
    m_upsertFolder.reset(), m_upsertFile.reset(), m_upsertFiles.reset(), m_updateFile.reset();
    m_folderId.reset(), m_file.reset(), m_listFiles.reset();
    const int result = sqlite3_close(m_db);
    CKxError closed = result == SQLITE_OK ? CKxError::Success() : Failed(result, "Failed to close the database");
    m_db = nullptr;
    if (closed.IsSuccess() && m_writable)
        KX_RETURN_IF_FAILED(COutputSync::SyncFile(m_name), "Failed to put the database [%s] on disk", m_name.c_str());
    return closed;
}

CKxError CContentContainer::Remove(const std::string& path)
{
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
        KX_RETURN_IF_FAILED(FXFile::Remove(path + suffix), "Failed to remove the database [%s]", path.c_str());
    return CKxError::Success();
}

CKxError CContentContainer::FolderId(std::string_view path, std::int64_t& id, bool* carried, std::string* metadata)
{
    if (!m_db)
        return CKxError(KxCode::InvalidParameter, KxFormat("The database [%s] is not open", m_name.c_str()));
    sqlite3_stmt* statement = m_folderId.get();
    SResetOnExit reset{statement};
    BindBytes(statement, 1, path);
    const int result = sqlite3_step(statement);
    if (result == SQLITE_DONE)
        return CKxError(KxCode::NotFound, "Folder not found");
    if (result != SQLITE_ROW)
        return Failed(result, "Failed to look a folder up in");
    id = sqlite3_column_int64(statement, 0);
    if (carried)
        *carried = sqlite3_column_int(statement, 1) != 0;
    if (metadata)
        metadata->assign(static_cast<const char*>(sqlite3_column_blob(statement, 2)),
                         static_cast<size_t>(sqlite3_column_bytes(statement, 2)));
    return CKxError::Success();
}

CKxError CContentContainer::QueryFolder(std::string_view path, std::string& metadata)
{
    std::lock_guard lock(m_connectionLock);
    std::int64_t id = 0;
    return FolderId(path, id, nullptr, &metadata);
}

CKxError CContentContainer::QueryFolderId(std::string_view path, std::int64_t& id, bool* carried)
{
    std::lock_guard lock(m_connectionLock);
    return FolderId(path, id, carried);
}

CKxError CContentContainer::QueryFile(std::string_view path, std::string& metadata)
{
    std::lock_guard lock(m_connectionLock);
    std::string_view parent, name;
    SplitPath(path, parent, name);
    std::int64_t id = 0;
    KX_RETURN_IF_ERROR(FolderId(parent, id, nullptr));
    sqlite3_stmt* statement = m_file.get();
    SResetOnExit reset{statement};
    sqlite3_bind_int64(statement, 1, id);
    BindBytes(statement, 2, name);
    const int result = sqlite3_step(statement);
    if (result == SQLITE_DONE)
        return CKxError(KxCode::NotFound, "File not found");
    if (result != SQLITE_ROW)
        return Failed(result, "Failed to look a file up in");
    metadata.assign(static_cast<const char*>(sqlite3_column_blob(statement, 0)),
                    static_cast<size_t>(sqlite3_column_bytes(statement, 0)));
    return CKxError::Success();
}

CKxError CContentContainer::UpdateFileMetadata(std::string_view path, std::string_view metadata)
{
    std::lock_guard lock(m_connectionLock);
    std::string_view parent, name;
    SplitPath(path, parent, name);
    std::int64_t id = 0;
    KX_RETURN_IF_ERROR(FolderId(parent, id, nullptr));
    if (!m_updateFile)
        return CKxError(KxCode::InvalidParameter, KxFormat("The database [%s] is not open for writing", m_name.c_str()));
    sqlite3_stmt* statement = m_updateFile.get();
    SResetOnExit reset{statement};
    sqlite3_bind_int64(statement, 1, id);
    BindBytes(statement, 2, name);
    BindText(statement, 3, metadata);
    const int result = sqlite3_step(statement);
    if (result != SQLITE_DONE)
        return Failed(result, "Failed to update a file of");
    if (sqlite3_changes(m_db) == 0)
        return CKxError(KxCode::NotFound, "File not found");
    return CKxError::Success();
}

CKxError CContentContainer::ListFileNames(std::string_view folder, std::vector<std::string>& names)
{
    std::lock_guard lock(m_connectionLock);
    names.clear();
    if (!m_db)
        return CKxError(KxCode::InvalidParameter, KxFormat("The database [%s] is not open", m_name.c_str()));
    sqlite3_stmt* statement = m_listFiles.get();
    SResetOnExit reset{statement};
    BindBytes(statement, 1, folder);
    int result;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW)
        names.emplace_back(static_cast<const char*>(sqlite3_column_blob(statement, 0)),
                           static_cast<size_t>(sqlite3_column_bytes(statement, 0)));
    return result == SQLITE_DONE ? CKxError::Success() : Failed(result, "Failed to list the files of a folder of");
}

CKxError CContentContainer::WriteFolder(std::string_view path, std::string_view metadata, std::int64_t time,
                                        std::int64_t& id)
{
    // An insert always takes a new, higher row id; an update of a known folder leaves the last
    // one as it was, and only then is the id looked up (RETURNING would build a temporary table
    // per statement).
    const std::int64_t lastInserted = sqlite3_last_insert_rowid(m_db);
    {
        sqlite3_stmt* statement = m_upsertFolder.get();
        SResetOnExit reset{statement};
        BindBytes(statement, 1, path);
        BindText(statement, 2, metadata);
        sqlite3_bind_int64(statement, 3, time);
        if (const int result = sqlite3_step(statement); result != SQLITE_DONE)
            return Failed(result, "Failed to write a folder into");
    }
    id = sqlite3_last_insert_rowid(m_db);
    return id != lastInserted ? CKxError::Success() : FolderId(path, id, nullptr);
}

CKxError CContentContainer::WriteFiles(const SFileRow* rows, int count, std::int64_t time)
{
    // A full group goes in one statement: the per-statement cost (cursor, halt, reset) is paid
    // once per kFilesPerInsert files; the rest of a batch one by one.
    const bool whole = count == kFilesPerInsert;
    sqlite3_stmt* statement = whole ? m_upsertFiles.get() : m_upsertFile.get();
    const int perStatement = whole ? kFilesPerInsert : 1;
    for (int first = 0; first < count; first += perStatement) {
        SResetOnExit reset{statement};
        for (int row = 0; row < perStatement; ++row) {
            const SFileRow& file = rows[first + row];
            sqlite3_bind_int64(statement, row * 4 + 1, file.parent);
            BindBytes(statement, row * 4 + 2, file.name);
            BindText(statement, row * 4 + 3, file.metadata);
            sqlite3_bind_int64(statement, row * 4 + 4, time);
        }
        if (const int result = sqlite3_step(statement); result != SQLITE_DONE)
            return Failed(result, "Failed to write a file into");
    }
    return CKxError::Success();
}

CKxError CContentContainer::WriteEntries(const CContentBatch& batch, std::int64_t time)
{
    // Files come folder by folder: the parent's id is looked up once per run of its files.
    std::string lastParent;
    std::int64_t lastParentId = -1;
    std::string parentMetadata;
    SFileRow rows[kFilesPerInsert];
    int pending = 0;
    for (const CContentBatch::SEntry& entry : batch.Entries()) {
        const std::string_view path = batch.Path(entry);
        if (entry.folder) {
            KX_RETURN_IF_ERROR(WriteFolder(path, batch.Metadata(entry), time, lastParentId));
            lastParent.assign(path);
            continue;
        }
        std::string_view parent, name;
        SplitPath(path, parent, name);
        if (lastParentId < 0 || parent != lastParent) {
            CKxError found = FolderId(parent, lastParentId, nullptr);
            if (found.Code() == KxCode::NotFound) {
                parentMetadata.clear();
                CContentContainerFormatter::CreateParentMetadata(0, parentMetadata);
                found = WriteFolder(parent, parentMetadata, time, lastParentId);
            }
            KX_RETURN_IF_FAILED(std::move(found), "Failed to find the folder of [%.*s]", static_cast<int>(path.size()),
                                path.data());
            lastParent.assign(parent);
        }
        rows[pending++] = {lastParentId, name, batch.Metadata(entry)};
        if (pending == kFilesPerInsert) {
            KX_RETURN_IF_ERROR(WriteFiles(rows, pending, time));
            pending = 0;
        }
    }
    return WriteFiles(rows, pending, time);
}

CKxError CContentContainer::WriteBatch(const CContentBatch& batch, std::int64_t time)
{
    if (batch.Empty())
        return CKxError::Success();
    std::lock_guard lock(m_connectionLock);
    if (!m_upsertFolder)
        return CKxError(KxCode::InvalidParameter, KxFormat("The database [%s] is not open for writing", m_name.c_str()));
    KX_RETURN_IF_ERROR(Execute("BEGIN"));
    CKxError written = WriteEntries(batch, time);
    if (written.IsSuccess())
        written = Execute("COMMIT");
    if (written.IsError()) {
        (void)sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return std::move(written.Push(KxFormat("Failed to write %zu items into the database", batch.Size())));
    }
    return CKxError::Success();
}

CKxError CContentContainer::CarryForward(const std::string& previousDatabase, std::string_view path)
{
    std::lock_guard lock(m_connectionLock);
    if (!m_upsertFolder)
        return CKxError(KxCode::InvalidParameter, KxFormat("The database [%s] is not open for writing", m_name.c_str()));
    // ATTACH would create a missing file.
    if (::access(previousDatabase.c_str(), F_OK) != 0)
        return CKxError(KxCode::NotFound, KxFormat("The database [%s] does not exist", previousDatabase.c_str()));
    StatementPtr attach;
    KX_RETURN_IF_ERROR(Prepare("ATTACH ?1 AS carry", attach));
    BindText(attach.get(), 1, previousDatabase);
    if (const int result = sqlite3_step(attach.get()); result != SQLITE_DONE)
        return Failed(result, KxFormat("Failed to attach [%s] to", previousDatabase.c_str()));
    // Below "/a": paths from "/a/" up to, not including, "/a0" ('0' follows '/').
    std::string below(path);
    if (below.empty() || below.back() != '/')
        below.push_back('/');
    std::string end = below;
    end.back() = '0';
    std::string_view parent, name;
    SplitPath(path, parent, name);
    constexpr const char* kCopies[] = {
        "INSERT INTO folders(path, metadata, time, carried) SELECT path, metadata, time, 1 FROM carry.folders"
        " WHERE path=?1 OR (path>=?2 AND path<?3) ON CONFLICT(path) DO NOTHING",
        "INSERT INTO files(parent, name, metadata, time, carried) SELECT m.id, f.name, f.metadata, f.time, 1"
        " FROM carry.files f JOIN carry.folders p ON p.id=f.parent JOIN main.folders m ON m.path=p.path"
        " WHERE p.path=?1 OR (p.path>=?2 AND p.path<?3) ON CONFLICT(parent, name) DO NOTHING",
        "INSERT INTO files(parent, name, metadata, time, carried) SELECT m.id, f.name, f.metadata, f.time, 1"
        " FROM carry.files f JOIN carry.folders p ON p.id=f.parent JOIN main.folders m ON m.path=p.path"
        " WHERE p.path=?4 AND f.name=?5 ON CONFLICT(parent, name) DO NOTHING"};
    CKxError copied = Execute("BEGIN");
    for (const char* sql : kCopies) {
        if (copied.IsError())
            break;
        StatementPtr statement;
        copied = Prepare(sql, statement);
        if (copied.IsError())
            break;
        BindBytes(statement.get(), 1, path);
        BindBytes(statement.get(), 2, below);
        BindBytes(statement.get(), 3, end);
        if (sqlite3_bind_parameter_count(statement.get()) >= 5) {
            BindBytes(statement.get(), 4, parent);
            BindBytes(statement.get(), 5, name);
        }
        if (const int result = sqlite3_step(statement.get()); result != SQLITE_DONE)
            copied = Failed(result, "Failed to carry entries forward into");
    }
    if (copied.IsSuccess())
        copied = Execute("COMMIT");
    else
        (void)sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    if (CKxError detached = Execute("DETACH carry"); detached.IsError() && copied.IsSuccess())
        copied = std::move(detached);
    if (copied.IsError())
        return std::move(copied.Push(KxFormat("Failed to carry the entries of [%.*s] forward",
                                              static_cast<int>(path.size()), path.data())));
    return CKxError::Success();
}

}  // namespace CX
