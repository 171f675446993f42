// Removal of collect files that list nothing to back up, before the split: bare files, files
// holding only "/" or only the ancestor lines of the content, and files with real content.
#include "Agent/AgentTestEnv.h"
#include "Base/FXFile.h"
#include "CollectFile/FlatCollectFile.h"
#include "Scan/PostProcessCollectFiles.h"

#include <filesystem>

namespace {

class OtherConsumer : public CItemConsumer {
public:
    CKxError Process(const CItemPtr&) override { return CKxError::Success(); }
};

class PostProcessCollectFilesTest : public AgentTestEnv {
protected:
    void SetUp() override
    {
        AgentTestEnv::SetUp();
        m_folder = m_root + "/results";
        std::filesystem::create_directories(m_folder);
    }

    // A collect file holding exactly `content` (written raw, as any writer may have left it;
    // raw lines are not counted as items).
    CFlatCollectFilePtr AddResource(const std::string& content)
    {
        const int number = static_cast<int>(m_resources.size()) + 1;
        const std::string path = m_folder + "/CollectTot" + std::to_string(number) + ".zvf";
        auto file = std::make_shared<CFlatCollectFile>(7, path, "/");
        EXPECT_TRUE(file->Open().IsSuccess());
        EXPECT_TRUE(file->File().Append(content).IsSuccess());
        file->SetDataSize(30);
        auto resource = std::make_shared<COutputResources>(number, "/", "vol");
        resource->SetCollectConsumer(file);
        m_resources.push_back(resource);
        return file;
    }

    // Runs the removal on one file and tells whether it went.
    bool Removed(const std::string& content, const std::vector<std::string>& roots = {})
    {
        m_resources.clear();
        auto file = AddResource(content);
        CPostProcessCollectFiles post(nullptr, m_resources);
        post.SetContentRoots(roots);
        EXPECT_TRUE(post.Run().IsSuccess());
        const bool gone = !FXFile::Exists(file->GetFileName());
        EXPECT_EQ(gone, m_resources[0]->GetCollectConsumer() == nullptr);
        if (gone) {
            EXPECT_EQ(file->GetItemCount(), 0u);
            EXPECT_EQ(file->GetDataSize(), 0u);
        }
        std::filesystem::remove(file->GetFileName());
        return gone;
    }

    std::string m_folder;
    std::vector<COutputResourcesPtr> m_resources;
};

TEST_F(PostProcessCollectFilesTest, FilesWithoutAncestorLinesFollowTheSizeRule)
{
    EXPECT_TRUE(Removed(""));
    EXPECT_TRUE(Removed("/\n"));
    EXPECT_TRUE(Removed("\n\n/\n"));
    EXPECT_TRUE(Removed("/\n/\n/\n/\n/\n/\n/\n"));  // 14 bytes
    EXPECT_FALSE(Removed("/a|1\n"));
    EXPECT_FALSE(Removed("/a/\n"));
    EXPECT_FALSE(Removed("/ \n"));                   // an item named " " under the root
    // Beyond 15 bytes a file is taken to hold content without being read.
    EXPECT_FALSE(Removed("/\n/\n/\n/\n/\n/\n/\n/\n"));  // 16 bytes
    EXPECT_FALSE(Removed("/data/file-with-a-long-name|12345\n"));
}

TEST_F(PostProcessCollectFilesTest, FileWithOnlyTheAncestorsOfTheContentIsEmpty)
{
    const std::vector<std::string> roots = {"/data/projects/x", "/srv/www/"};
    EXPECT_TRUE(Removed("/\n/data/\n/data/projects/\n", roots));
    EXPECT_TRUE(Removed("/\n/srv/\n/data/\n/data/projects/\n\n", roots));
    // A content root's own line, anything below it, or any other folder is content.
    EXPECT_FALSE(Removed("/\n/data/\n/data/projects/\n/data/projects/x/\n", roots));
    EXPECT_FALSE(Removed("/\n/data/\n/data/projects/\n/data/projects/x/f|3\n", roots));
    EXPECT_FALSE(Removed("/\n/data/\n/other/\n", roots));
    // Only folder lines are ancestor lines.
    EXPECT_FALSE(Removed("/\n/data\n", roots));
    EXPECT_FALSE(Removed("/\n/data/|0\n", roots));
}

TEST_F(PostProcessCollectFilesTest, AncestorLinesAreEscapedFolderLines)
{
    EXPECT_EQ(CPostProcessCollectFiles::AncestorLinesOf({"/a|b/c\nd/e", "/a|b/f", "/", "/top//", "relative/x"}),
              (std::unordered_set<std::string>{"/", "/a\\x7cb/", "/a\\x7cb/c\\x0ad/"}));
    EXPECT_TRUE(Removed("/\n/a\\x7cb/\n", {"/a|b/c"}));
}

TEST_F(PostProcessCollectFilesTest, LinesStillBufferedCountAsContent)
{
    auto file = AddResource("");
    ASSERT_TRUE(file->RawWriteItem("/data/only-in-the-buffer|4", 4).IsSuccess());
    CPostProcessCollectFiles post(nullptr, m_resources);
    ASSERT_TRUE(post.Run().IsSuccess());
    EXPECT_TRUE(FXFile::Exists(file->GetFileName()));
    EXPECT_EQ(m_resources[0]->GetCollectConsumer(), file);
    EXPECT_EQ(ReadLines(file->GetFileName()), (std::vector<std::string>{"/data/only-in-the-buffer|4"}));
}

TEST_F(PostProcessCollectFilesTest, FilesWithCountedItemsAreKeptUnread)
{
    // The writer counted an item: the file has content whatever its first lines look like.
    auto file = AddResource("/\n");
    file->setProcessedItemsCount(1);
    CPostProcessCollectFiles post(nullptr, m_resources);
    ASSERT_TRUE(post.Run().IsSuccess());
    EXPECT_TRUE(FXFile::Exists(file->GetFileName()));
    EXPECT_EQ(m_resources[0]->GetCollectConsumer(), file);
}

TEST_F(PostProcessCollectFilesTest, ResourcesThatCannotBeJudgedAreLeftAlone)
{
    auto foreign = std::make_shared<COutputResources>(1, "/", "vol");
    auto consumer = std::make_shared<OtherConsumer>();
    foreign->SetCollectConsumer(consumer);
    m_resources.push_back(foreign);
    m_resources.push_back(std::make_shared<COutputResources>(2, "/", "vol"));  // cleared earlier
    auto vanished = AddResource("");
    ASSERT_TRUE(vanished->Close().IsSuccess());
    std::filesystem::remove(vanished->GetFileName());
    auto empty = AddResource("/\n");

    CPostProcessCollectFiles post(nullptr, m_resources);
    ASSERT_TRUE(post.Run().IsSuccess());
    EXPECT_EQ(m_resources[0]->GetCollectConsumer(), consumer);
    EXPECT_EQ(m_resources[1]->GetCollectConsumer(), nullptr);
    EXPECT_EQ(m_resources[2]->GetCollectConsumer(), vanished);  // the check failed: kept
    EXPECT_EQ(vanished->GetDataSize(), 30u);
    EXPECT_EQ(m_resources[3]->GetCollectConsumer(), nullptr);  // the files after it are still judged
    EXPECT_FALSE(FXFile::Exists(empty->GetFileName()));

    bool skip = true;
    EXPECT_TRUE(post.ShouldSkipCollectFile(m_folder + "/none.zvf", skip).IsError());
    EXPECT_FALSE(skip);
}

}  // namespace
