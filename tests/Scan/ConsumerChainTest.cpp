// The links of a volume's consumer chain, one by one: what each passes, drops, marks or
// diverts at its boundaries, the events they raise, and the failure and deleted-item lists.
#include "Scan/ScanJobTestEnv.h"

#include "CollectFile/BackupOutConsumer.h"
#include "CollectFile/ExtentLine.h"
#include "CollectFile/FlatCollectFile.h"
#include "CollectFile/IncrFlatCollectFile.h"
#include "Engine/RawDeviceItem.h"
#include "Scan/AppleDoubleConsumer.h"
#include "Scan/BackupAfterDateConsumer.h"
#include "Scan/ContentRootAncestorConsumer.h"
#include "Scan/DeletedItemConsumer.h"
#include "Scan/ExtentLevelBackupConsumer.h"
#include "Scan/FileSystemSendEvents.h"
#include "Scan/FileSystemScanFailureConsumer.h"
#include "Scan/ForceFullScanConsumer.h"
#include "Scan/LongPathConsumer.h"
#include "Scan/MaxFileCTimeConsumer.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/SkipFSConsumer.h"
#include "Scan/UserCentricSkipConsumer.h"
#include "Scan/Unix/UnixFileNameFactory.h"
#include "Scan/Unix/skipFS.h"

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <sys/sysmacros.h>

namespace {

namespace Id = SXScannerConfigurationBagId;

// The end of a chain under test: records what reached it.
class Recorder : public CItemConsumer {
public:
    CKxError Process(const CItemPtr& item) override
    {
        std::lock_guard lock(m_lock);
        m_paths.push_back(item->GetLocalFullyQualifiedItemName());
        return CKxError::Success();
    }
    std::vector<std::string> Paths() const
    {
        std::lock_guard lock(m_lock);
        return m_paths;
    }
    bool Got(const std::string& path) const { return std::ranges::count(Paths(), path) > 0; }

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_paths;
};

class ConsumerTest : public ScanJobTestEnv {
protected:
    void SetUp() override
    {
        ScanJobTestEnv::SetUp();
        m_tree = m_root + "/tree";
        std::filesystem::create_directories(m_tree);
        m_recorder = std::make_shared<Recorder>();
        m_callback.SetJobId(7);
        BagOf(m_callback);
        EvEvent::SetJobId(7);
    }

    // A walk item with chosen status fields and no file behind it.
    static CItemPtr Synthetic(const std::string& path, mode_t mode, std::int64_t mtime = 0, std::int64_t ctime = 0,
                              std::uint64_t size = 0, nlink_t links = 1)
    {
        struct stat status {};
        status.st_mode = mode;
        status.st_mtim.tv_sec = mtime;
        status.st_ctim.tv_sec = ctime;
        status.st_size = static_cast<off_t>(size);
        status.st_nlink = links;
        return std::make_shared<CFindFirstItem>(path, path, status);
    }

    std::vector<std::string> PoppedLongPaths()
    {
        std::vector<std::string> queued;
        EXPECT_TRUE(m_callback.PopLongPaths(queued).IsSuccess());
        return queued;
    }

    std::string m_tree;
    std::shared_ptr<Recorder> m_recorder;
    CScanJobCallback m_callback;
};

// A path of exactly `length` characters in components of at most 200.
std::string PathOfLength(size_t length)
{
    std::string path = "/d";
    while (path.size() < length)
        path += "/" + std::string(200, 'x');
    path.resize(length);
    if (path.back() == '/')
        path.back() = 'y';
    return path;
}

TEST_F(ConsumerTest, LongPathsAreDivertedFromTheirBoundaryOn)
{
    CLongPathConsumer consumer(m_recorder, m_callback, true, "/vol");
    // Path length, a folder, diverted.
    for (const auto& [length, folder, diverted] : std::vector<std::tuple<size_t, bool, bool>>{
             {959, true, false}, {960, true, true}, {1024, false, false}, {1025, false, true}, {1000, false, false}}) {
        const std::string path = PathOfLength(length);
        ASSERT_EQ(path.size(), length);
        EXPECT_EQ(consumer.Process(Synthetic(path, folder ? S_IFDIR : S_IFREG)).Code(), diverted ? ENAMETOOLONG : 0) << length;
        EXPECT_EQ(m_recorder->Got(path), !diverted) << length;
    }
    EXPECT_EQ(PoppedLongPaths(), (std::vector<std::string>{PathOfLength(960) + "/<SRCVOL>/vol</SRCVOL>",
                                                           PathOfLength(1025) + "<SRCVOL>/vol</SRCVOL>"}));

    // A pass over long paths walks them whole; so does a consumer switched off.
    CItemPtr inPass = Synthetic(PathOfLength(2000), S_IFDIR);
    auto unitBag = std::make_shared<CBag>();
    ASSERT_TRUE(unitBag->Write(Id::idIsLongPathScan, true).IsSuccess());
    inPass->SetWorkUnitBag(unitBag);
    EXPECT_TRUE(consumer.Process(inPass).IsSuccess());
    consumer.SetProcessLongPath(false);
    EXPECT_TRUE(consumer.Process(Synthetic(PathOfLength(3000), S_IFREG)).IsSuccess());
    EXPECT_TRUE(PoppedLongPaths().empty());
}

TEST_F(ConsumerTest, OnlyTheFirstNineUnprocessedLongPathsRaiseEvents)
{
    CLongPathConsumer::ResetReportedLongPaths();
    CLongPathConsumer consumer(m_recorder, m_callback, false, "/vol");
    for (int i = 0; i < 12; ++i) {
        std::string path = PathOfLength(1100);
        path.back() = static_cast<char>('a' + i);
        EXPECT_EQ(consumer.Process(Synthetic(path, S_IFREG)).Code(), ENAMETOOLONG);
    }
    EXPECT_TRUE(m_recorder->Paths().empty());
    const auto events = Events(CLongPathConsumer::kEventLongPath);
    ASSERT_EQ(events.size(), 9u);
    EXPECT_EQ(events[0].value("severity", ""), "major");
    const std::string shortened = events[0]["args"][1];
    EXPECT_EQ(shortened.size(), 136u + 10u + 136u);
    EXPECT_EQ(shortened.substr(136, 10), "..........");
    EXPECT_EQ(shortened.back(), 'a');
    EXPECT_EQ(events[8]["args"][1].get<std::string>().back(), 'i');
    EXPECT_TRUE(PoppedLongPaths().empty());

    EXPECT_EQ(CLongPathConsumer::CompressPathString("short", 1024, 260), "short");
    EXPECT_EQ(CLongPathConsumer::CompressPathString(std::string(300, 'p'), 260, 1024), std::string(300, 'p'));
    CLongPathConsumer::ResetReportedLongPaths();
}

// An AppleDouble header: magic, version 2, filler, entry count.
std::string AppleDouble(unsigned entries, bool goodMagic = true)
{
    std::string header = goodMagic ? std::string("\x00\x05\x16\x07\x00\x02\x00\x00", 8) : std::string(8, 'Z');
    header += std::string(16, '\0');
    header += static_cast<char>(entries >> 8);
    header += static_cast<char>(entries & 0xff);
    return header + "rest";
}

TEST_F(ConsumerTest, AppleDoubleCompanionsTravelWithTheirFiles)
{
    WriteFile(m_tree + "/a", "data");
    WriteFile(m_tree + "/._a", AppleDouble(2));
    WriteFile(m_tree + "/._orphan", AppleDouble(1));   // its file is gone: kept
    WriteFile(m_tree + "/._", AppleDouble(1));         // a bare "._" is an ordinary name
    WriteFile(m_tree + "/c", "data");
    WriteFile(m_tree + "/._c", AppleDouble(1, false));  // not AppleDouble: both kept, no flag
    WriteFile(m_tree + "/e", "data");
    WriteFile(m_tree + "/._e", AppleDouble(0));         // no entries: not AppleDouble
    WriteFile(m_tree + "/._short", std::string("\x00\x05\x16\x07", 4));
    std::filesystem::create_directories(m_tree + "/sub");

    CAppleDoubleConsumer consumer(m_recorder);
    std::map<std::string, bool> flagged;
    for (const char* name : {"a", "._a", "._orphan", "._", "c", "._c", "e", "._e", "._short", "sub"}) {
        CItemPtr item = Found(m_tree + "/" + name);
        ASSERT_TRUE(consumer.Process(item).IsSuccess()) << name;
        flagged[name] = item->IsAppleDoubleFile();
    }
    EXPECT_FALSE(m_recorder->Got(m_tree + "/._a"));
    for (const char* kept : {"a", "._orphan", "._", "c", "._c", "e", "._e", "._short", "sub"})
        EXPECT_TRUE(m_recorder->Got(m_tree + "/" + kept)) << kept;
    EXPECT_TRUE(flagged["a"]);
    for (const char* plain : {"._", "c", "e", "sub"})
        EXPECT_FALSE(flagged[plain]) << plain;

    // Items that were not read from the file system are not looked at.
    auto placeholder = std::make_shared<CItem>(m_tree + "/._a", false);
    ASSERT_TRUE(consumer.Process(placeholder).IsSuccess());
    EXPECT_TRUE(m_recorder->Got(m_tree + "/._a"));
}

TEST_F(ConsumerTest, BackupAfterDateKeepsItemsFromTheDateOnAndForceFullMarksWhatIsNew)
{
    const std::int64_t date = 1'700'000'000;
    // The rules by modification and change time, the item's two times, passed on.
    int n = 0;
    using Row = std::tuple<bool, bool, std::int64_t, std::int64_t, bool>;
    for (const auto& [mtime, ctime, itemMtime, itemCtime, passes] : std::vector<Row>{
             {true, true, date, 0, true}, {true, true, date - 1, date - 1, false}, {true, false, date - 1, date + 5, false},
             {false, true, date - 1, date, true}, {false, false, date + 9, date + 9, false}, {true, true, date + 1, 0, true}}) {
        auto recorder = std::make_shared<Recorder>();
        CBackupAfterDateConsumer consumer(recorder, CTimeStamp(date), mtime, ctime);
        const std::string path = "/d/f" + std::to_string(n++);
        ASSERT_TRUE(consumer.Process(Synthetic(path, S_IFREG, itemMtime, itemCtime)).IsSuccess());
        EXPECT_EQ(recorder->Got(path), passes) << path;
    }
    // Old folders are dropped too; items new in the image, placeholders and a clear date pass.
    CBackupAfterDateConsumer consumer(m_recorder, CTimeStamp(date), true, true);
    ASSERT_TRUE(consumer.Process(Synthetic("/d/old", S_IFDIR, 1, 1)).IsSuccess());
    CItemPtr added = Synthetic("/d/new", S_IFREG, 1, 1);
    added->setNewInImage();
    ASSERT_TRUE(consumer.Process(added).IsSuccess());
    ASSERT_TRUE(consumer.Process(std::make_shared<CItem>("/d/placeholder", false)).IsSuccess());
    CBackupAfterDateConsumer clear(m_recorder, CTimeStamp(), true, true);
    ASSERT_TRUE(clear.Process(Synthetic("/d/any", S_IFREG, 1, 1)).IsSuccess());
    EXPECT_EQ(m_recorder->Paths(), (std::vector<std::string>{"/d/new", "/d/placeholder", "/d/any"}));

    // A forced full marks everything at or below the new paths, and passes every item on.
    CForceFullScanConsumer force(m_recorder, {"/data/new/", "/other"});
    for (const auto& [path, marked] : {std::pair{"/data/new", true}, {"/data/new/x/y", true}, {"/data/newer", false},
                                       {"/data", false}, {"/other/z", true}, {"/", false}}) {
        CItemPtr item = std::make_shared<CItem>(path, false);
        ASSERT_TRUE(force.Process(item).IsSuccess());
        EXPECT_EQ(item->isNewInImage(), marked) << path;
        EXPECT_TRUE(m_recorder->Got(path)) << path;
    }
}

TEST_F(ConsumerTest, UserCentricSkipDropsOnlyWhatTheUserCannotRead)
{
    WriteFile(m_tree + "/open", "x");
    WriteFile(m_tree + "/closed", "x");
    ::chmod((m_tree + "/open").c_str(), 0644);
    ::chmod((m_tree + "/closed").c_str(), 0600);
    const uid_t user = ::geteuid() == 0 ? 65534 : ::geteuid();
    if (::geteuid() != 0) {
        // Without root the user owns both files: nothing is dropped.
        CUserCentricSkipConsumer consumer(m_recorder, user);
        ASSERT_TRUE(consumer.Process(Found(m_tree + "/closed")).IsSuccess());
        EXPECT_TRUE(m_recorder->Got(m_tree + "/closed"));
        return;
    }
    ::chmod(m_root.c_str(), 0755);
    ::chmod(m_tree.c_str(), 0755);
    // The check asks with the real ids, as an impersonating job has them: run as the user in
    // a child so that this process keeps its own.
    EXPECT_EQ(InChild([&] {
                  if (::setresgid(user, user, user) != 0 || ::setresuid(user, user, user) != 0)
                      return 10;
                  auto recorder = std::make_shared<Recorder>();
                  CUserCentricSkipConsumer consumer(recorder, user);
                  for (const char* name : {"open", "closed"})
                      if (consumer.Process(Found(m_tree + "/" + name)).IsError())
                          return 11;
                  if (consumer.Process(std::make_shared<CItem>(m_tree + "/closed-placeholder", false)).IsError())
                      return 13;
                  return recorder->Paths() == std::vector<std::string>{m_tree + "/open", m_tree + "/closed-placeholder"}
                             ? 0
                             : 12;
              }),
              0);
}

TEST_F(ConsumerTest, ExtentQualificationAndSlabs)
{
    EXPECT_EQ(CExtentLevelBackupConsumer::ParseSlabs("1G:4M, 10G:16M;100G:64M\n bad 5:0 7:x"),
              (std::map<std::uint64_t, std::uint64_t>{{1ULL << 30, 4ULL << 20},
                                                      {10ULL << 30, 16ULL << 20},
                                                      {100ULL << 30, 64ULL << 20}}));
    const std::uint64_t threshold = 1ULL << 30;
    CExtentLevelBackupConsumer consumer(m_recorder, true, threshold, "1G:4M,10G:16M", false);
    EXPECT_EQ(consumer.ExtentSizeFor(1ULL << 30), 4ULL << 20);  // the first largest size not below
    EXPECT_EQ(consumer.ExtentSizeFor((1ULL << 30) + 1), 16ULL << 20);
    EXPECT_EQ(consumer.ExtentSizeFor(11ULL << 30), CExtentLine::kDefaultExtentSize);

    auto qualified = [&](const CItemPtr& item) {
        EXPECT_TRUE(consumer.Process(item).IsSuccess());
        return item->HasBag() && item->GetBag().GetBool(CExtentLine::kQualifiedKey);
    };
    // The threshold, folders, AppleDouble companions, hard links, and the path length limit.
    CItemPtr flagged = Synthetic("/apple", S_IFREG, 0, 0, threshold);
    flagged->SetAppleDoubleFile(true);
    for (const auto& [item, yes] : std::vector<std::pair<CItemPtr, bool>>{
             {Synthetic("/big", S_IFREG, 0, 0, threshold), true},
             {Synthetic("/small", S_IFREG, 0, 0, threshold - 1), false},
             {Synthetic("/folder", S_IFDIR, 0, 0, threshold), false},
             {flagged, false},
             {Synthetic("/linked", S_IFREG, 0, 0, threshold, 2), false},
             {Synthetic("/" + std::string(5999, 'l'), S_IFREG, 0, 0, threshold), false},
             {Synthetic("/" + std::string(5998, 'l'), S_IFREG, 0, 0, threshold), true}})
        EXPECT_EQ(qualified(item), yes) << item->GetLocalFullyQualifiedItemName().size();
    struct stat device {};
    device.st_mode = S_IFBLK;
    EXPECT_TRUE(qualified(std::make_shared<CRawDeviceItem>("/dev/sdz", "/dev/sdz", device, 5ULL << 30)));
    EXPECT_EQ(m_recorder->Paths().size(), 8u);  // every item passes

    CItemPtr item = Synthetic("/again", S_IFREG, 0, 0, 2ULL << 30);
    ASSERT_TRUE(qualified(item));
    unsigned long long extent = 0;
    ASSERT_TRUE(item->GetBag().Read(CExtentLine::kExtentSizeKey, extent).IsSuccess());
    EXPECT_EQ(extent, 16ULL << 20);
    EXPECT_FALSE(item->GetBag().GetBool(CExtentLine::kExplicitlyKey, true));

    // Without hard-link handling a linked file qualifies by its size alone.
    CExtentLevelBackupConsumer noLinks(m_recorder, false, threshold, "", true);
    CItemPtr linkedItem = Synthetic("/linked", S_IFREG, 0, 0, threshold, 2);
    ASSERT_TRUE(noLinks.Process(linkedItem).IsSuccess());
    EXPECT_TRUE(linkedItem->GetBag().GetBool(CExtentLine::kQualifiedKey));
}

TEST_F(ConsumerTest, NewestChangeTimeStaysBelowTheScanStartAcrossThreads)
{
    m_callback.SetMaxCtimeTracking(true);
    CMaxFileCTimeConsumer consumer(m_recorder, m_callback, 100'000, 7);
    ASSERT_TRUE(consumer.Process(Synthetic("/f", S_IFREG, 0, 500)).IsSuccess());
    ASSERT_TRUE(consumer.Process(Synthetic("/started", S_IFREG, 0, 100'000)).IsSuccess());
    ASSERT_TRUE(consumer.Process(Synthetic("/folder", S_IFDIR, 0, 99'990)).IsSuccess());
    ASSERT_TRUE(consumer.Process(std::make_shared<CItem>("/placeholder", false)).IsSuccess());
    EXPECT_EQ(m_callback.GetMaxFileCtime(), 500);

    // Eight threads raise the maximum at once; the largest value below the start wins.
    OnThreads(8, [&](int t) {
        for (int i = 0; i < 2000; ++i)
            (void)consumer.Process(Synthetic("/t", S_IFREG, 0, 1000 + (i * 8 + t) % 98'000));
    });
    EXPECT_EQ(m_callback.GetMaxFileCtime(), 1000 + 15'999);
    EXPECT_EQ(m_recorder->Paths().size(), 4u + 16'000u);

    m_callback.SetMaxCtimeTracking(false);
    ASSERT_TRUE(consumer.Process(Synthetic("/off", S_IFREG, 0, 99'999)).IsSuccess());
    EXPECT_EQ(m_callback.GetMaxFileCtime(), 1000 + 15'999);
}

// A mount table describing this machine: the test tree's file system and, when it lies on
// another device, /dev/shm, with the types and sources a case wants.
class SkipFSTest : public ConsumerTest {
protected:
    void SetUp() override
    {
        ConsumerTest::SetUp();
        struct stat tree {}, shm {};
        ASSERT_EQ(::stat(m_tree.c_str(), &tree), 0);
        if (::stat("/dev/shm", &shm) != 0 || shm.st_dev == tree.st_dev)
            GTEST_SKIP() << "no second file system at /dev/shm";
        m_treeDevice = tree.st_dev;
        m_otherDevice = shm.st_dev;
        m_table = m_root + "/mountinfo";
    }
    void Describe(const std::string& rootType, const std::string& rootSource, const std::string& otherType,
                  const std::string& otherSource)
    {
        WriteFile(m_table, KxFormat("20 1 %u:%u / / rw - %s %s rw\n"
                                    "21 20 %u:%u / /dev/shm rw shared:5 - %s %s rw\n",
                                    major(m_treeDevice), minor(m_treeDevice), rootType.c_str(), rootSource.c_str(),
                                    major(m_otherDevice), minor(m_otherDevice), otherType.c_str(),
                                    otherSource.c_str()));
    }
    std::shared_ptr<CSkipFSConsumer> Consumer(const std::string& rootType, const std::string& rootSource)
    {
        return std::make_shared<CSkipFSConsumer>(m_recorder, m_callback, 7, m_treeDevice, "/", rootType, rootSource,
                                                 std::make_shared<skipFS>(m_table));
    }
    std::vector<std::string> NewMountPaths()
    {
        std::vector<std::string> paths;
        EXPECT_TRUE(m_callback.PopNewMountPaths(paths).IsSuccess());
        return paths;
    }

    dev_t m_treeDevice = 0;
    dev_t m_otherDevice = 0;
    std::string m_table;
};

TEST_F(SkipFSTest, SkippedTypesAreNotEnteredAndRaiseAnEvent)
{
    Describe("ext4", "/dev/vda", "tmpfs", "tmpfs");
    auto consumer = Consumer("ext4", "/dev/vda");
    WriteFile(m_tree + "/f", "x");
    ASSERT_TRUE(consumer->Process(Found(m_tree)).IsSuccess());     // the volume's own device
    ASSERT_TRUE(consumer->Process(Found(m_tree + "/f")).IsSuccess());
    CKxError answer = consumer->Process(Found("/dev/shm"));
    EXPECT_EQ(answer.Code(), KxCode::DoNotEnterFolder);
    EXPECT_EQ(answer.Message(), "Skip folder [/dev/shm] based on FSType");
    EXPECT_FALSE(m_recorder->Got("/dev/shm"));
    EXPECT_TRUE(NewMountPaths().empty());
    const auto events = Events(CFileSystemSendEvents::kEventSkippedFileSystem);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].value("message", ""), "/dev/shm of File system type tmpfs is skipped");
    EXPECT_EQ(events[0].value("severity", ""), "information");

    // Silenced by type, then by path; the severity follows the setting.
    Setting("silentSkippedFSType", "proc, tmpfs");
    EXPECT_EQ(consumer->Process(Found("/dev/shm")).Code(), KxCode::DoNotEnterFolder);
    Setting("silentSkippedFSType", "");
    Setting("silentSkippedFSPath", "/mnt/x ; /dev/shm/");
    EXPECT_EQ(consumer->Process(Found("/dev/shm")).Code(), KxCode::DoNotEnterFolder);
    EXPECT_EQ(Events(CFileSystemSendEvents::kEventSkippedFileSystem).size(), 1u);
    Setting("silentSkippedFSPath", "");
    Setting("SkippedItemEventLevel", "6");
    EXPECT_EQ(consumer->Process(Found("/dev/shm")).Code(), KxCode::DoNotEnterFolder);
    EXPECT_EQ(Events(CFileSystemSendEvents::kEventSkippedFileSystem).back().value("severity", ""), "major");
}

TEST_F(SkipFSTest, AnotherDeviceOfTheSourceVolumeIsWalkedHereAndRemembered)
{
    Describe("ext4", "/dev/vda", "xfs", "/dev/vda");
    auto consumer = Consumer("ext4", "/dev/vda");
    ASSERT_TRUE(consumer->Process(Found("/dev/shm")).IsSuccess());
    EXPECT_TRUE(m_recorder->Got("/dev/shm"));
    // The device is known now: no table is needed for it any more.
    std::filesystem::remove(m_table);
    ASSERT_TRUE(consumer->Process(Found("/dev/shm")).IsSuccess());
    EXPECT_EQ(m_recorder->Paths().size(), 2u);
    EXPECT_TRUE(NewMountPaths().empty());

    // A file system of another volume becomes a work unit of its own; so does one whose source
    // names no device (two tmpfs mounts are two volumes), and a skipped type equal to the
    // volume's own type, without a skip event.
    for (const auto& [otherType, source] : {std::pair{"xfs", "/dev/vdb"}, {"xfs", "tmpfs"}, {"tmpfs", "tmpfs"}}) {
        Describe("tmpfs", source, otherType, source);
        auto other = Consumer("tmpfs", std::string(source).starts_with("/") ? "/dev/vda" : "");
        CKxError answer = other->Process(Found("/dev/shm"));
        EXPECT_EQ(answer.Code(), KxCode::DoNotEnterFolder) << source;
        EXPECT_EQ(answer.Message(), "Identified new mount path [/dev/shm]. Process this with different workunit.");
        EXPECT_EQ(NewMountPaths(), std::vector<std::string>{"/dev/shm/"}) << source;
    }
    EXPECT_TRUE(Events(CFileSystemSendEvents::kEventSkippedFileSystem).empty());
}

TEST(SkipFSTable, MountTableParsingAndSkippedTypes)
{
    const auto mounts = skipFS::ParseMountTable(
        "36 35 98:0 /mnt1 /mnt/with\\040blank rw,noatime master:1 shared:2 - ext3 /dev/root rw\n"
        "garbage line\n"
        "37 35 0:5 / /proc rw - proc proc rw\n"
        "38 35 1:2 / /no-type rw\n");
    ASSERT_EQ(mounts.size(), 2u);
    EXPECT_EQ(std::tie(mounts[0].mountPoint, mounts[0].device, mounts[0].fsType, mounts[0].source),
              std::make_tuple(std::string("/mnt/with blank"), makedev(98, 0), std::string("ext3"), std::string("/dev/root")));
    EXPECT_EQ(mounts[1].fsType, "proc");
    EXPECT_FALSE(skipFS::IsSkippedType("fuse.sshfs"));
    EXPECT_FALSE(skipFS::IsSkippedType(""));

    // The real table knows the root and /proc.
    skipFS real;
    bool skip = true;
    struct stat status {};
    std::string type;
    ASSERT_TRUE(real.GetFsType("/proc", skip, status, type).IsSuccess());
    EXPECT_EQ(type, "proc");
    EXPECT_TRUE(skip);
    EXPECT_EQ(real.GetFsType("/no/such/path", skip, status, type).Code(), ENOENT);
}

TEST_F(ConsumerTest, FailureAndDeletedItemListLines)
{
    auto names = std::make_shared<CUnixFileNameFactory>(1, m_root);
    WriteFile(names->ScanFailedItemsCollect(), "left by an earlier job\n");
    CFileSystemScanFailureConsumer failures(7, names);
    ASSERT_TRUE(failures.Initialize().IsSuccess());

    auto folder = std::make_shared<CItem>("/d/sub", true);
    folder->SetErrorNumber(EACCES);
    auto odd = std::make_shared<CItem>("/d/new\nline|pipe\\back:colon", false);
    odd->SetErrorNumber(EIO);
    auto noCode = std::make_shared<CItem>("/d/nocode", false);
    CItemPtr link = Synthetic("/d/link", S_IFLNK);
    link->SetErrorNumber(ENOENT);
    for (const CItemPtr& item : std::vector<CItemPtr>{folder, odd, noCode, link})
        ASSERT_TRUE(failures.Process(item).IsSuccess());
    ASSERT_TRUE(failures.Flush().IsSuccess());
    EXPECT_EQ(ReadFile(names->ScanFailedItemsCollect()),
              "folder /d/sub:13\n"
              "file /d/new\\x0aline\\x7cpipe\\\\back:colon:5\n"
              "file /d/nocode:14\n"
              "file /d/link:2\n");
    EXPECT_EQ(failures.getProcessedItemsCount(), 4u);

    // A line reads back to its item; what the writer cannot have written is refused.
    SFailedItem read;
    ASSERT_TRUE(
        CFileSystemScanFailureConsumer::ParseLine("file /d/new\\x0aline\\x7cpipe\\\\back:colon:5", read).IsSuccess());
    EXPECT_EQ(read.path, odd->GetSourceFullyQualifiedItemName());
    EXPECT_FALSE(read.isFolder);
    EXPECT_EQ(read.code, EIO);
    for (const char* bad : {"dir /d:13", "file /d", "file /d:", "file /d:013", "file /d:+1", "folder /d:-0",
                            "file /d:99999999999", "file /d\x01:1", "file /d\\x41:1"})
        EXPECT_EQ(CFileSystemScanFailureConsumer::ParseLine(bad, read).Code(), KxCode::InvalidData) << bad;

    // A list that cannot be written is an error for the caller (the walk then stops).
    failures.GetWriter()->File().SetWriteFunction([](int, const void*, size_t) -> ssize_t {
        errno = ENOSPC;
        return -1;
    });
    ASSERT_TRUE(failures.Process(noCode).IsSuccess());  // buffered
    EXPECT_EQ(failures.Flush().Code(), ENOSPC);
    EXPECT_EQ(failures.Process(noCode).Code(), ENOSPC);

    // Without names there is no list; without Initialize items pass by.
    CFileSystemScanFailureConsumer unnamed(7, nullptr);
    EXPECT_TRUE(unnamed.Initialize().IsError());
    EXPECT_TRUE(unnamed.Process(folder).IsSuccess());
    EXPECT_EQ(unnamed.getProcessedItemsCount(), 0u);

    // The deleted-items list: one line per deletion, and nothing before it is open or after it is closed.
    auto deleted = std::make_shared<CIncrFlatCollectFile>(7, m_root + "/CollectIncDeletedItems.zvf");
    EXPECT_EQ(deleted->RawWriteDeletedItem("??d/early").Code(), 6) << "not open yet";
    ASSERT_TRUE(deleted->Open().IsSuccess());
    CDeletedItemConsumer consumer(deleted, 7);
    ASSERT_TRUE(consumer.Process(std::make_shared<CItem>("/d/gone/", true)).IsSuccess());
    ASSERT_TRUE(consumer.Process(std::make_shared<CItem>("/d/gone/f|1\n", false)).IsSuccess());
    ASSERT_TRUE(deleted->Close().IsSuccess());
    EXPECT_EQ(deleted->RawWriteDeletedItem("??d/late").Code(), 6) << "closed";
    EXPECT_EQ(ReadFile(m_root + "/CollectIncDeletedItems.zvf"), "?" "?D/d/gone\n?" "?d/d/gone/f\\x7c1\\x0a\n");
    EXPECT_EQ(deleted->GetItemCount(), 2u);
    EXPECT_EQ(deleted->GetFolderCount(), 0u) << "a deletion line is no folder to back up";
    EXPECT_EQ(consumer.getProcessedItemsCount(), 2u);
}

TEST_F(ConsumerTest, AncestorLinesOncePerCollectFileAndRootAlsoBesideAnEarlierFileRoot)
{
    // One consumer writing to collect file `number`, after `items` went through it.
    const auto feed = [this](int number, const std::vector<std::pair<std::string, bool>>& items) {
        auto collect = std::make_shared<CFlatCollectFile>(7, m_root + "/CollectTot" + std::to_string(number) + ".zvf");
        EXPECT_TRUE(collect->Open().IsSuccess());
        auto ancestors = std::make_shared<CContentRootAncestorConsumer>(7, collect);
        for (const auto& [path, folder] : items)
            EXPECT_TRUE(ancestors->Process(std::make_shared<CItem>(path, folder)).IsSuccess()) << path;
        EXPECT_TRUE(collect->Flush().IsSuccess());
        return std::pair{collect, ancestors};
    };
    // Two roots under one folder, a file named as content, a wildcard match below an unreported
    // folder, and the root folder itself.
    const auto [collect, ancestors] = feed(1, {{"/data/a", true}, {"/data/a/x", false}, {"/data/a/sub", true},
                                               {"/data/a/sub/y", false}, {"/data/b/", true}, {"/data/b/z", false},
                                               {"/etc/passwd", false}, {"/etc/group", false}, {"/srv/w/one.txt", false},
                                               {"/srv/w/two.txt", false}, {"/", true}});
    EXPECT_EQ(ReadFile(collect->GetFileName()), "/\n/data/\n/etc/\n/srv/\n/srv/w/\n");
    EXPECT_EQ(collect->GetItemCount(), 0u);  // not items
    EXPECT_EQ(collect->GetFolderCount(), 0u);
    // Each file is a root of its own; a folder root takes its whole tree.
    EXPECT_EQ(ancestors->GetRoots(), (std::vector<std::string>{"/data/a", "/data/b", "/etc/passwd", "/etc/group",
                                                               "/srv/w/one.txt", "/srv/w/two.txt", "/"}));
    EXPECT_TRUE(ancestors->HasItemsFor("/data/a/sub"));
    EXPECT_TRUE(ancestors->HasItemsFor("/etc/group"));
    EXPECT_TRUE(ancestors->HasItemsFor("/srv"));  // holds a root
    EXPECT_FALSE(CContentRootAncestorConsumer::IsAtOrUnder("/data/ab", "/data/a"));
    EXPECT_TRUE(CContentRootAncestorConsumer::IsAtOrUnder("/data/a", "/data/a"));

    // Several threads meeting the same roots write each line once.
    const auto [second, shared] = feed(2, {});
    OnThreads(6, [&](int t) {
        for (int i = 0; i < 300; ++i)
            (void)shared->Process(std::make_shared<CItem>(
                "/m/n/root" + std::to_string((i + t) % 3) + "/f" + std::to_string(i), false));
    });
    ASSERT_TRUE(second->Flush().IsSuccess());
    std::vector<std::string> lines = ReadLines(second->GetFileName());
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"/", "/m/", "/m/n/", "/m/n/root0/", "/m/n/root1/", "/m/n/root2/"}));

    // Wildcard content "/data/*.txt" and "/data/wild/x*": the matched file comes first, then a
    // matched folder one level further down, on the same thread and in one collect file. The
    // file must not stand for its folder, or "/data/wild/" is never written.
    const auto [third, wild] = feed(3, {{"/data/a.txt", false}, {"/data/b.txt", false}, {"/data/wild/x1", true},
                                        {"/data/wild/x1/f", false}, {"/data/wild/x1/in", true},
                                        {"/data/wild/x2/", true}, {"/data/c.txt", false}});
    EXPECT_EQ(ReadFile(third->GetFileName()), "/\n/data/\n/data/wild/\n");
    EXPECT_EQ(wild->GetAncestorLineCount(), 3u);
    EXPECT_EQ(wild->GetRoots(), (std::vector<std::string>{"/data/a.txt", "/data/b.txt", "/data/wild/x1",
                                                          "/data/wild/x2", "/data/c.txt"}));
    for (const auto& [path, has] : {std::pair{"/data", true}, {"/data/b.txt", true}, {"/data/wild/x1/in/deeper", true},
                                    {"/data/d.txt", false}, {"/data/wild/y1", false}})
        EXPECT_EQ(wild->HasItemsFor(path), has) << path;

    // The other way round: the folder first, then a file beside its parent, then a file at "/".
    const auto [fourth, reversed] = feed(4, {{"/data/wild/x1", true}, {"/data/a.txt", false}, {"/top.txt", false},
                                             {"/data/wild/x1/f", false}});
    EXPECT_EQ(ReadFile(fourth->GetFileName()), "/\n/data/\n/data/wild/\n");
    EXPECT_EQ(reversed->GetRoots(), (std::vector<std::string>{"/data/wild/x1", "/data/a.txt", "/top.txt"}));
}

}  // namespace
