#include "Agent/BackupIndexWriter.h"
#include "Agent/FileBackupIndex.h"
#include "Base/ScratchFolderTest.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {
struct SJobFile {
    long long jobId;
    std::string text;  // the whole file
};

struct SMergeCase {
    const char* name;
    std::vector<SJobFile> files;
    std::vector<std::string> view;  // Browse's items as index lines, without newlines
    const char* error = nullptr;    // a text the error must hold instead
};

class FileBackupIndexTest : public ScratchFolderTest {
protected:
    void Write(const SJobFile& file)
    {
        std::ofstream(m_dir + "/2_5/" + std::to_string(file.jobId) + ".idx") << file.text;
    }
    CKxError Browse(std::vector<std::string>& view)
    {
        CFileBackupIndex index(m_dir, 2, 5);
        return index.Browse([&](const SIndexItem& item) {
            std::string line;
            BackupIndexFormat::AppendLine({item}, line);
            view.push_back(line.substr(0, line.size() - 1));
            return CKxError::Success();
        });
    }
};
}  // namespace

TEST_F(FileBackupIndexTest, MergeHoldsTheNewestCopyOfWhatNoLaterJobDeleted)
{
    const std::vector<SMergeCase> cases = {
        {"a later job's line replaces the full's",
         {{1, "fsweep-index 1 1 1 100\nd 1 1 0 /\nd 1 1 0 /a\nf 1 1 10 /a/x\nf 1 1 5 /b\n"},
          {2, "fsweep-index 1 2 2 200\nf 2 2 20 /a/x\nl 2 2 3 /a/y\n"}},
         {"d 1 1 0 /", "d 1 1 0 /a", "f 2 2 20 /a/x", "l 2 2 3 /a/y", "f 1 1 5 /b"}},
        {"a deleted file is gone, a deleted folder takes its subtree with it, a newer job may re-add below",
         {{1, "fsweep-index 1 1 1 100\nf 1 1 1 /a\nd 1 1 0 /d\nf 1 1 1 /d/x\nf 1 1 1 /d/y\nf 1 1 1 /d!\n"},
          {2, "fsweep-index 1 2 2 200\n- /a\n- /d\n- /d/x\n"},
          {3, "fsweep-index 1 3 2 300\nd 3 3 0 /d\nf 3 3 7 /d/y\n"}},
         {"d 3 3 0 /d", "f 3 3 7 /d/y", "f 1 1 1 /d!"}},
        {"deletions of several jobs cover at once; the newest of item and deletion wins",
         {{1, "fsweep-index 1 1 1 100\nd 1 1 0 /d\nf 1 1 1 /d/x\nf 1 1 1 /d/y\nf 1 1 1 /e\n"},
          {2, "fsweep-index 1 2 2 200\n- /d\n"},
          {3, "fsweep-index 1 3 2 300\nd 3 3 0 /d\nf 3 3 1 /d/y\nf 3 3 1 /d/z\n"},
          {4, "fsweep-index 1 4 2 400\n- /d/y\n- /e\n"}},
         {"d 3 3 0 /d", "f 3 3 1 /d/z"}},
        {"a folder replaced by a file in the same job: the file is held, the folder's content is not",
         {{1, "fsweep-index 1 1 1 100\nd 1 1 0 /d\nf 1 1 1 /d/x\n"},
          {2, "fsweep-index 1 2 2 200\n- /d\nf 2 2 4 /d\n"}},
         {"f 2 2 4 /d"}},
        {"a failed item is not held: the older copy stays, a new one never appears",
         {{1, "fsweep-index 1 1 1 100\nf 1 1 1 /a\n"}, {2, "fsweep-index 1 2 2 200\n! 5 /a\n! 2 /new\n"}},
         {"f 1 1 1 /a"}},
        {"jobs before the last full are not read; without a full, every job counts",
         {{1, "fsweep-index 1 1 2 100\nf 1 1 1 /before\nnot even a line\n"},
          {2, "fsweep-index 1 2 1 200\nf 2 2 1 /full\n"},
          {3, "fsweep-index 1 3 2 300\nf 3 3 1 /incr\n"}},
         {"f 2 2 1 /full", "f 3 3 1 /incr"}},
        {"no job file: nothing held", {}, {}},
        {"a malformed line names the file and the line",
         {{1, "fsweep-index 1 1 1 100\nf 1 1 1 /a\nf 1 x 1 /b\n"}}, {}, "Line 3 of backup-index file ["},
        {"a line out of path order is an error", {{1, "fsweep-index 1 1 1 100\nf 1 1 1 /a/b\nf 1 1 1 /a\n"}}, {},
         "out of path order"},
        {"a file cut in the middle of a line is an error", {{1, "fsweep-index 1 1 1 100\nf 1 1 1 /a"}}, {},
         "middle of a line"},
        {"a header naming another job is an error", {{1, "fsweep-index 1 7 1 100\n"}}, {}, "holds job 7"},
        {"an unknown version is an error", {{1, "fsweep-index 2 1 1 100\n"}}, {}, "version 2"},
    };
    for (const SMergeCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(m_dir + "/2_5");
        std::filesystem::create_directories(m_dir + "/2_5");
        for (const SJobFile& file : c.files)
            Write(file);
        std::vector<std::string> view;
        CKxError browsed = Browse(view);
        if (c.error) {
            ASSERT_TRUE(browsed.IsError());
            EXPECT_NE(browsed.AsString().find(c.error), std::string::npos) << browsed.AsString();
        } else {
            ASSERT_TRUE(browsed.IsSuccess()) << browsed.AsString();
            EXPECT_EQ(view, c.view);
        }
    }
}

TEST_F(FileBackupIndexTest, WriterSortsAndDropsRepeatsWhateverItSpillsAndTheReaderGivesTheFailuresBack)
{
    const std::string folder = CFileBackupIndex::SubclientFolder(m_dir + "/Index", 2, 5);
    for (size_t linesPerRun : {CBackupIndexWriter::kLinesPerRun, size_t{1}, size_t{2}}) {
        SCOPED_TRACE(linesPerRun);
        CBackupIndexWriter writer(folder, 4, 2, linesPerRun);
        struct stat status {};
        status.st_mode = S_IFDIR | 0755;
        status.st_mtim.tv_sec = -1;
        status.st_ctim.tv_sec = 9;
        status.st_size = 4096;
        writer.AddItem("/a b/", status);
        writer.AddItem("/", status);
        status.st_mtim.tv_sec = 5;
        writer.AddItem("/a b", status);  // listed twice, held once: the first reading
        status.st_mode = S_IFREG | 0644;
        writer.AddItem("/a b/new\nline|x", status);
        writer.AddFailure("/a b/gone", 2);
        writer.AddDeletion("/a b/old/");
        ASSERT_TRUE(writer.Commit(1234).IsSuccess());

        EXPECT_EQ(writer.Lines(), 5u);
        std::ifstream in(writer.Path());
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text, "fsweep-index 1 4 2 1234\n"
                        "d -1 9 0 /\n"
                        "d -1 9 0 /a b\n"
                        "! 2 /a b/gone\n"
                        "f 5 9 4096 /a b/new\\x0aline\\x7cx\n"
                        "- /a b/old\n");
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        EXPECT_EQ(names, std::vector<std::string>{"4.idx"});  // no run left behind
    }
    struct stat folderStatus {};
    ASSERT_EQ(::stat(folder.c_str(), &folderStatus), 0);
    EXPECT_EQ(folderStatus.st_mode & 0777, 0700u);

    CFileBackupIndex index(m_dir + "/Index", 2, 5);
    std::vector<SIndexFailure> failures;
    ASSERT_TRUE(index.GetFailedFiles(4, failures).IsSuccess());
    EXPECT_EQ(failures, (std::vector<SIndexFailure>{{"/a b/gone", 2}}));
    EXPECT_EQ(index.GetFailedFiles(5, failures).Code(), KxCode::NotFound);
    std::vector<SIndexJob> jobs;
    ASSERT_TRUE(index.Jobs(jobs).IsSuccess());
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].written, 1234);
}
