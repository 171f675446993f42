// The snapshot manager's file: what it accepts, and which archive id a volume gets.
#include <gtest/gtest.h>

#include "Agent/sSnapBackupManager.h"
#include "Base/FXFile.h"
#include "Base/ScratchFolderTest.h"

namespace {

class SnapBackupManagerTest : public ScratchFolderTest {};

TEST_F(SnapBackupManagerTest, RefusesWhatIsNotASnapshotList)
{
    const struct {
        const char* text;  // nullptr: no file
        long code;
    } cases[] = {
        {nullptr, KxCode::NotFound},
        {"{\"volumes\": 3}", KxCode::InvalidData},
        {"not json", KxCode::InvalidData},
        {R"({"volumes": [{"source": "/data", "snapshot": "/snap"}]})", KxCode::InvalidData},
        {R"({"volumes": [{"source": "data", "snapshot": "/snap", "archiveId": 1}]})", KxCode::InvalidData},
        {R"({"volumes": [{"source": "/d", "snapshot": "/s", "archiveId": 1, "mounted": "yes"}]})", KxCode::InvalidData},
    };
    const std::string path = m_dir + "/1.json";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "no file");
        (void)FXFile::Remove(path);
        if (c.text) {
            ASSERT_TRUE(FXFile::WriteFileAtomically(path, c.text).IsSuccess());
        }
        CsSnapBackupManagerPtr manager;
        EXPECT_EQ(CsSnapBackupManager::Load(path, manager).Code(), c.code);
        EXPECT_EQ(manager, nullptr);
    }
}

TEST_F(SnapBackupManagerTest, ArchiveIdOfTheFirstSnapshotOnTheVolumeAndUnmount)
{
    const std::string path = m_dir + "/1.json";
    ASSERT_TRUE(FXFile::WriteFileAtomically(path, R"({"volumes": [
        {"source": "/data/a", "snapshot": "/snap/a", "archiveId": 7, "mounted": true},
        {"source": "/data", "snapshot": "/snap/d", "archiveId": 8, "mounted": true}]})")
                    .IsSuccess());
    CsSnapBackupManagerPtr manager;
    ASSERT_TRUE(CsSnapBackupManager::Load(path, manager).IsSuccess());
    const struct {
        const char* volume;
        long long id;  // 0: none
    } cases[] = {{"/", 7}, {"/data", 7}, {"/data/a/b", 7}, {"/data/b", 8}, {"/other", 0}};
    for (const auto& c : cases) {
        long long id = 0;
        const CKxError found = manager->GetArchiveIdForSourcePath(c.volume, id);
        EXPECT_EQ(found.Code(), c.id ? KxCode::Success : KxCode::NotFound) << c.volume;
        EXPECT_EQ(id, c.id) << c.volume;
    }
    // Copies, not mounts: nothing to detach; the file records them unmounted.
    ASSERT_TRUE(manager->Unmount().IsSuccess());
    ASSERT_TRUE(CsSnapBackupManager::Load(path, manager).IsSuccess());
    for (const auto& volume : manager->GetVolumes())
        EXPECT_FALSE(volume.mounted) << volume.source;
}

}  // namespace
