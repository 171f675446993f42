// COutputSync: which files and folders the end-of-job pass syncs.
#include "Base/OutputSync.h"
#include "ScratchFolderTest.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <fstream>

namespace {

class OutputSyncTest : public ScratchFolderTest {};

TEST_F(OutputSyncTest, SyncsWhatChangedSinceTheJobBeganAndTheFoldersItChanged)
{
    const std::string made = m_dir + "/made/by/job";  // folders the job created
    ASSERT_EQ(::system(("mkdir -p '" + made + "'").c_str()), 0);
    for (const char* name : {"CollectTot1.zvf", "DCTmp.zvf"})
        std::ofstream(made + "/" + name) << "line\n";
    ASSERT_EQ(::mkfifo((made + "/fifo").c_str(), 0600), 0);  // never opened, never waited for

    const std::time_t now = std::time(nullptr);
    struct Case {
        const char* what;
        std::time_t since;
        std::uint64_t files, folders;
    };
    const Case cases[] = {
        // the folder and each parent that changed, up to the stop folder
        {"began before the files", now - 5, 2, 3},
        {"clock set back since: every file", now + 3600, 2, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        COutputSync::SCounts counts;
        ASSERT_TRUE(COutputSync::SyncChangedSince({made, m_dir + "/absent"}, c.since, m_dir, &counts).IsSuccess());
        EXPECT_EQ(counts.files, c.files);
        EXPECT_EQ(counts.folders, c.folders);
    }
    EXPECT_TRUE(COutputSync::SyncFile(made + "/DCTmp.zvf").IsSuccess());
    EXPECT_NE(COutputSync::SyncFolder(m_dir + "/absent").Message().find(m_dir + "/absent"), std::string::npos);
}

}  // namespace
