// The database record ("nUseSQLiteDirchange" 1) through the real binaries, where it differs from
// the text record: what a full job writes per item, the backup phase keeping the full's database
// under both names, and a pending database left by a job that did not finish, which must not
// hide a deletion (the change-detection scenarios themselves run in IncrementalScanTest).
#include "ScanJobFixture.h"

#include <sqlite3.h>

namespace {

using namespace e2e;

class DatabaseRecordTest : public ScanJobFixture {
protected:
    void SetUp() override
    {
        ScanJobFixture::SetUp();
        Settings("nUseSQLiteDirchange 1\n");
    }

    // Path (files as "folder/name") -> metadata text of every entry of the database.
    static std::map<std::string, std::string> Entries(const std::string& database)
    {
        std::map<std::string, std::string> entries;
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK) << database;
        sqlite3_stmt* statement = nullptr;
        const char* sql = "SELECT path, metadata FROM folders UNION ALL SELECT p.path || '/' || f.name, f.metadata"
                          " FROM files f JOIN folders p ON p.id = f.parent";
        EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &statement, nullptr), SQLITE_OK);
        while (sqlite3_step(statement) == SQLITE_ROW)
            entries[std::string(static_cast<const char*>(sqlite3_column_blob(statement, 0)),
                                static_cast<size_t>(sqlite3_column_bytes(statement, 0)))] =
                reinterpret_cast<const char*>(sqlite3_column_text(statement, 1));
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return entries;
    }
    static std::string FileId(const std::string& path)
    {
        struct stat status {};
        EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
        char text[32];
        std::snprintf(text, sizeof text, "FileId=\"0x%016llX\"", static_cast<unsigned long long>(status.st_ino));
        return text;
    }
};

TEST_F(DatabaseRecordTest, FullJobRecordsEachItemAndAStalePendingDatabaseHidesNoDeletion)
{
    fs::create_directories(m_data + "/d1");
    WriteText(m_data + "/d1/f1", "1");
    WriteText(m_data + "/f2", "2");
    WriteText(m_data + "/gone\nline", "g");
    Content({m_data});
    Scanned(1, 1);
    const auto entries = Entries(Results() + "/DirChangePending.db");
    for (const std::string& path : {m_data, m_data + "/d1", m_data + "/d1/f1", m_data + "/f2"}) {
        ASSERT_TRUE(entries.contains(path)) << path;
        const std::string& metadata = entries.at(path);
        const bool folder = fs::is_directory(path);
        EXPECT_EQ(metadata.find("Folder=\"true\"") != std::string::npos, folder) << metadata;
        EXPECT_NE(metadata.find(FileId(path)), std::string::npos) << metadata;
        EXPECT_NE(metadata.find("<State Collect=\"true\"/>"), std::string::npos) << metadata;
    }
    BackedUp(1, 1);
    EXPECT_EQ(Read(Results() + "/DirChangeFull.db"), Read(Results() + "/DirChangeIncremental.db"));
    EXPECT_FALSE(fs::exists(Results() + "/DirChangePending.db"));
    EXPECT_FALSE(fs::exists(Results() + "/DirChangePending.db-journal"));

    // A job that did not finish left its database, which still lists the file deleted now.
    fs::copy_file(Results() + "/DirChangeFull.db", Results() + "/DirChangePending.db");
    fs::remove(m_data + "/gone\nline");
    Scanned(2, 2);
    EXPECT_EQ(Selected(2).deletions, std::multiset<std::string>{"??d" + escapeFileName(m_data + "/gone\nline")});
}

}  // namespace
