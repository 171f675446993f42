#pragma once
// CX::CContentContainer: one SQLite database of the folders and files a scan saw, each with
// its metadata text (CContentContainerFormatter):
//
//   folders(id, path, metadata, time, carried)        path unique, the full source path
//   files(parent, name, metadata, time, carried)       keyed by (parent folder id, name)
//
// Paths and names are stored as byte strings (BLOB): any name the file system allows round-
// trips, newlines and invalid UTF-8 included, and both tables read back in byte order, which
// is what the comparison merges on. `carried` marks entries copied from the previous database
// for content this job could not read: they are never reported deleted, and a lookup of the
// next job does not see them (so that content is taken whole once it is back).
//
// A database written by a scan is opened once, by one process, in exclusive locking mode with
// a rollback journal and no sync per transaction: a killed writer leaves a database that
// SQLite rolls back to its last committed batch; Close syncs the file. A previous database is
// opened read-only, also in exclusive locking mode: nothing writes it during a job, and one
// shared lock held throughout spares a lock and a journal check per statement.
//
// Errors: "not found" is code 1168 (KxCode::NotFound); every other failure carries SQLite's
// message and the database's path.
//
// Thread: every operation takes the connection's lock, so any thread may call; a batch is one
// transaction under that lock.
#include "Base/KxError.h"
#include "ContentContainer/ContentBatch.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace CX {

class CCompareContentContainers;

class CContentContainer {
public:
    CContentContainer();
    CContentContainer(const CContentContainer&) = delete;
    CContentContainer& operator=(const CContentContainer&) = delete;
    ~CContentContainer();

    void SetName(std::string path) { m_name = std::move(path); }
    const std::string& GetName() const { return m_name; }

    // Opens the database for writing, creating it (mode 0600 by the process umask's leave,
    // never following a link) and its tables when absent.
    [[nodiscard]] CKxError OpenExistingOrCreate();
    // Opens an existing database read-only; a missing file is error 1168, one that Verify
    // refuses error 13.
    [[nodiscard]] CKxError OpenForReading();
    // Whether `path` is a whole database: a database cut short (a copy that stopped half way)
    // is refused before any lookup, or the entries of its first part would be found and the
    // rest not. Error 1168 when missing, 13 when not whole.
    [[nodiscard]] static CKxError Verify(const std::string& path);
    // Closes the connection; a written database is synced to disk first. Idempotent.
    [[nodiscard]] CKxError Close();
    // Removes a database file and the journal SQLite may have left beside it.
    [[nodiscard]] static CKxError Remove(const std::string& path);

    // Writes a batch in one transaction, in batch order: a folder is inserted or its metadata
    // replaced; a file is inserted or replaced under its parent folder, which is inserted with
    // the parent-folder document when the database does not know it yet.
    [[nodiscard]] CKxError WriteBatch(const CContentBatch& batch, std::int64_t time);

    // `carried` (optional) tells whether the entry was carried forward.
    [[nodiscard]] CKxError QueryFolderId(std::string_view path, std::int64_t& id, bool* carried = nullptr);
    [[nodiscard]] CKxError QueryFile(std::string_view path, std::string& metadata);
    [[nodiscard]] CKxError QueryFolder(std::string_view path, std::string& metadata);
    [[nodiscard]] CKxError UpdateFileMetadata(std::string_view path, std::string_view metadata);
    // The names of the files of `folder` that were not carried, in byte order: none when the
    // folder is unknown or carried. One statement per folder.
    [[nodiscard]] CKxError ListFileNames(std::string_view folder, std::vector<std::string>& names);

    // Copies what `previousDatabase` holds at and below `path` (a folder with all below it, or
    // one file) into this database, marked carried, unless this database has it already.
    [[nodiscard]] CKxError CarryForward(const std::string& previousDatabase, std::string_view path);

    struct SStatementDeleter {
        void operator()(sqlite3_stmt* statement) const;
    };
    using StatementPtr = std::unique_ptr<sqlite3_stmt, SStatementDeleter>;

private:
    friend class CCompareContentContainers;

    [[nodiscard]] CKxError Open(bool write);
    [[nodiscard]] CKxError Execute(const char* sql);
    [[nodiscard]] CKxError Prepare(const char* sql, StatementPtr& statement);
    [[nodiscard]] CKxError Failed(int result, const std::string& what) const;
    [[nodiscard]] CKxError FolderId(std::string_view path, std::int64_t& id, bool* carried,
                                    std::string* metadata = nullptr);
    [[nodiscard]] CKxError WriteFolder(std::string_view path, std::string_view metadata, std::int64_t time,
                                       std::int64_t& id);
    [[nodiscard]] CKxError WriteEntries(const CContentBatch& batch, std::int64_t time);
    struct SFileRow {
        std::int64_t parent;
        std::string_view name, metadata;
    };
    static constexpr int kFilesPerInsert = 32;
    [[nodiscard]] CKxError WriteFiles(const SFileRow* rows, int count, std::int64_t time);

    std::string m_name;
    std::mutex m_connectionLock;  // guards the connection and its statements
    sqlite3* m_db = nullptr;
    bool m_writable = false;
    StatementPtr m_upsertFolder, m_upsertFile, m_upsertFiles, m_folderId, m_file, m_updateFile, m_listFiles;
};

using CContentContainerPtr = std::shared_ptr<CContentContainer>;

}  // namespace CX
