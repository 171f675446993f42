// CFileSystemIdentity: a thread that takes a user's identity reads as that user while the other
// threads keep root's rights; inside COwnCredentials it creates files as root again; threads it
// starts there are root's.
#include "Base/FileSystemIdentity.h"
#include "ScratchFolderTest.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <thread>

namespace {

constexpr uid_t kUser = 65534;  // nobody

class FileSystemIdentityTest : public ScratchFolderTest {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "switching file-system ids needs root";
        ScratchFolderTest::SetUp();
        ::chmod(m_dir.c_str(), 0755);
        m_secret = m_dir + "/secret";
        const int fd = ::open(m_secret.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    // errno of opening the root-only file (0: it opened).
    int OpenSecret() const
    {
        const int fd = ::open(m_secret.c_str(), O_RDONLY);
        if (fd < 0)
            return errno;
        ::close(fd);
        return 0;
    }
    std::string m_secret;
};

TEST_F(FileSystemIdentityTest, ForUserKnowsTheUsersGroupsAndRefusesAnUnknownUid)
{
    CFileSystemIdentity identity(0, 0, {});
    ASSERT_TRUE(CFileSystemIdentity::ForUser(kUser, identity).IsSuccess());
    EXPECT_EQ(identity.GetUid(), kUser);
    EXPECT_NE(std::find(identity.GetGroups().begin(), identity.GetGroups().end(), identity.GetGid()),
              identity.GetGroups().end());
    EXPECT_EQ(CFileSystemIdentity::ForUser(4000000000u, identity).Code(), KxCode::NotFound);
}

TEST_F(FileSystemIdentityTest, OnlyTheAssumingThreadReadsAsTheUserAndOwnCredentialsWriteAsRoot)
{
    CFileSystemIdentity user(0, 0, {});
    ASSERT_TRUE(CFileSystemIdentity::ForUser(kUser, user).IsSuccess());
    struct SSeen {
        int assumed = -1, other = -1, own = -1, ownedBy = -1, child = -1, after = -1, back = -1;
        bool currentWhileOwn = true;
    } seen;
    std::thread walker([&] {
        {
            CFileSystemIdentity::CAssumed asUser(&user);
            ASSERT_TRUE(asUser.GetStatus().IsSuccess()) << asUser.GetStatus().AsString();
            seen.assumed = OpenSecret();
            std::thread([&] { seen.other = OpenSecret(); }).join();  // inherits the user's ids
            {
                CFileSystemIdentity::COwnCredentials own;
                seen.currentWhileOwn = CFileSystemIdentity::Current() != nullptr;
                seen.own = OpenSecret();
                const int fd = ::open((m_dir + "/created").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
                struct stat status {};
                seen.ownedBy = fd >= 0 && ::fstat(fd, &status) == 0 ? static_cast<int>(status.st_uid) : -1;
                if (fd >= 0)
                    ::close(fd);
                std::thread([&] { seen.child = OpenSecret(); }).join();
            }
            seen.after = OpenSecret();
        }
        seen.back = OpenSecret();
    });
    // Meanwhile this thread keeps root's rights.
    EXPECT_EQ(OpenSecret(), 0);
    walker.join();
    EXPECT_EQ(seen.assumed, EACCES);
    EXPECT_EQ(seen.other, EACCES);
    EXPECT_FALSE(seen.currentWhileOwn);
    EXPECT_EQ(seen.own, 0);
    EXPECT_EQ(seen.ownedBy, 0);
    EXPECT_EQ(seen.child, 0);
    EXPECT_EQ(seen.after, EACCES);
    EXPECT_EQ(seen.back, 0);
    EXPECT_EQ(CFileSystemIdentity::Current(), nullptr);
}

}  // namespace
