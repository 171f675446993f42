// The Unix steps of the subclient content on real files: the system denylist, content reached
// through symbolic links (loops and duplicates, with their events), the root content of a
// default subclient, the guards of cluster service groups, and the path predicates.

#include <unistd.h>

#include "Scan/ScanJobTestEnv.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/SubclientContent.h"
#include "Scan/Unix/SubclientContentUnix.h"
#include "Scan/Unix/UnixSymbolicLink.h"
#include "Scan/Unix/isDuplicate.h"
#include "Scan/Unix/isNestedMount.h"

namespace Id = SXScannerConfigurationBagId;
namespace fs = std::filesystem;
using json = nlohmann::json;
using Strings = std::vector<std::string>;

namespace {

class SubclientContentUnixTest : public ScanJobTestEnv {
protected:
    void SetUp() override
    {
        ScanJobTestEnv::SetUp();
        m_bag = std::make_shared<CBag>();
        m_tree = fs::canonical(m_root).string() + "/tree";
        fs::create_directories(m_tree);
        m_deny = m_root + "/deny";
        m_legacy = m_root + "/black";
    }
    template <typename Content = CSubclientContent>
    std::unique_ptr<Content> Run(const json& subclient)
    {
        WriteSubclient(subclient);
        auto content = std::make_unique<Content>("client1", "2:5", 2, m_bag);
        content->SetDenylistFiles(m_deny, m_legacy);
        CKxError e = content->Process();
        EXPECT_TRUE(e.IsSuccess()) << e.AsString();
        return content;
    }

    static CSubclientContentUnix& Unix(CSubclientContent& content)
    {
        return dynamic_cast<CSubclientContentUnix&>(*content.GetPrivate());
    }
    void Link(const std::string& target, const std::string& path) { fs::create_symlink(target, m_tree + "/" + path); }
    void Folder(const std::string& path) { fs::create_directories(m_tree + "/" + path); }
    std::vector<long long> EventIds() const
    {
        std::vector<long long> ids;
        for (const nlohmann::json& call : Calls("event"))
            ids.push_back(call.value("id", 0LL));
        return ids;
    }

    CBagPtr m_bag;
    std::string m_tree, m_deny, m_legacy;
};

TEST_F(SubclientContentUnixTest, DenylistSourcesSwitchesAndDefaultRootContent)
{
    auto systemFilters = [this]() {
        return Run({{"content", {"/data"}}})->GetScanContentConfiguration()->GetSystemFilters();
    };
    EXPECT_TRUE(systemFilters().empty());

    WriteFile(m_legacy, "/secret\r\nrelative\n\n  /spaced\n/var/*.tmp\t\n/secret\n");
    EXPECT_TRUE(systemFilters().empty());
    m_settings->Put("GlobalParams", "AllowBackupDenylistFile", "2");
    EXPECT_TRUE(systemFilters().empty());

    // The legacy name of the switch works as well as the current one.
    m_settings->Put("GlobalParams", "AllowBackupBlacklistFile", "1");
    auto content = Run({{"content", {"/data"}}});
    const CScanContentConfiguration& c = *content->GetScanContentConfiguration();
    EXPECT_EQ(c.GetSystemFilters(), (Strings{"/secret", "/var/*.tmp"}));
    EXPECT_EQ(c.GetBlackListContent(), (Strings{"/secret", "/var/*.tmp", "/secret"}));
    EXPECT_EQ(c.GetWorkUnitLists().systemFilters, (Strings{"/secret", "/var/*.tmp"}));

    // The current file comes first; once it exists the legacy one is not read.
    WriteFile(m_deny, "/only\n");
    EXPECT_EQ(systemFilters(), (Strings{"/only"}));
    fs::remove(m_deny);
    fs::create_directories(m_deny);
    EXPECT_TRUE(systemFilters().empty());

    // Only a default subclient whose content is the root alone is marked so.
    for (const auto& [isDefault, content, root] : std::vector<std::tuple<bool, Strings, bool>>{
             {true, {"/"}, true}, {true, {"/", "/data"}, false}, {false, {"/"}, false}}) {
        m_bag = std::make_shared<CBag>();
        Run({{"default", isDefault}, {"content", content}});
        EXPECT_EQ(m_bag->Has(Id::idIsDefaultSCContentRoot), root) << content.size();
        EXPECT_EQ(m_bag->GetBool(Id::idIsDefaultSCContentRoot, false), root) << content.size();
        EXPECT_EQ(m_bag->GetBool(Id::idIsDefaultSubclient, !isDefault), isDefault);
    }
}

TEST_F(SubclientContentUnixTest, SymbolicLinkLoopsDuplicatesAndPhysicalPaths)
{
    EvEvent::SetJobId(7);
    Folder("content/a/b");
    Folder("outside/deeper");
    Folder("other");
    Link(m_tree, "content/a/b/up");                  // back to an ancestor of the content
    Link(m_tree + "/outside", "content/out");       // elsewhere: kept
    Link(m_tree + "/content/a", "content/inner");   // inside the content: already walked
    Link(m_tree + "/nothing", "content/dangling");
    Link(m_tree + "/other", "content/dup");         // another subclient's content
    Link("self", "content/self");                   // resolves to nothing
    Link(m_tree + "/outside", "via");               // content reached through a link

    auto content = Run({{"followSymbolicLinks", true},
                        {"content", {m_tree + "/content", m_tree + "/via", m_tree + "/other"}},
                        {"otherSubclientsContent", {m_tree + "/other/", "/"}}});
    const auto& links = Unix(*content).GetSymbolicLinkContent();
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links.at(m_tree + "/content"), (Strings{m_tree + "/outside"}));
    EXPECT_EQ(links.at(m_tree + "/via"), (Strings{m_tree + "/outside"}));
    EXPECT_EQ(EventIds(), (std::vector<long long>{0x0e00005a, 0x06000041}));

    // Two links of one content where one target holds the other: the outer one is dropped.
    Folder("second");
    Link(m_tree + "/outside", "second/l1");
    Link(m_tree + "/outside/deeper", "second/l2");
    content = Run({{"followSymbolicLinks", true}, {"content", {m_tree + "/second"}}});
    EXPECT_EQ(Unix(*content).GetSymbolicLinkContent().at(m_tree + "/second"), (Strings{m_tree + "/outside/deeper"}));

    // The content lists never change, and without the option nothing is looked at.
    EXPECT_EQ(content->GetScanContentConfiguration()->GetScanContent(), (Strings{m_tree + "/second"}));
    content = Run({{"content", {m_tree + "/content"}}});
    EXPECT_TRUE(Unix(*content).GetSymbolicLinkContent().empty());

    // The physical path of content that is missing is nothing.
    Strings paths{"stale"};
    std::string root = "stale";
    EXPECT_FALSE(UnixSymbolicLink::getPhysicalPath(m_tree + "/missing", paths, root));
    EXPECT_TRUE(paths.empty());
    EXPECT_TRUE(root.empty());
    // A file is content too; it has nothing below it.
    WriteFile(m_tree + "/file", "x");
    EXPECT_TRUE(UnixSymbolicLink::getPhysicalPath(m_tree + "//file", paths, root));
    EXPECT_TRUE(paths.empty());
    EXPECT_EQ(root, m_tree + "/file");
}

// A platform part whose cluster utility answers with two mount points.
class ClusterUnix : public CSubclientContentUnix {
public:
    using CSubclientContentUnix::CSubclientContentUnix;
    CKxError GetClusterMounts(const std::string& group, Strings& mounts) override
    {
        mounts = {"/mnt/" + group + "a", "/mnt/" + group + "b"};
        return CKxError::Success();
    }
};

class ClusterContent : public CSubclientContent {
public:
    using CSubclientContent::CSubclientContent;
    CKxError InitializePrivate() override
    {
        SetPrivate(std::make_unique<ClusterUnix>(this));
        return CKxError::Success();
    }
};

TEST_F(SubclientContentUnixTest, ClusterServiceGroupGuards)
{
    const json defaultSc = {{"default", true}, {"content", {"/data"}}};
    const auto scanned = [this](const json& subclient) {
        return Run<ClusterContent>(subclient)->GetScanContentConfiguration()->GetScanContent();
    };
    m_settings->Put("Machines", "sClusterGroupClients", "other, client1");
    m_settings->Put("Machines", "sHOSTNAME", "127.0.0.1");
    m_settings->Put("Machines", "sVCS_SERVICE_GROUP", "sg1");
    // Nothing changes unless the agent is told to support the cluster.
    EXPECT_EQ(scanned(defaultSc), (Strings{"/data"}));
    m_settings->Put("Machines", "sVCS_SUPPORT", "yes");
    // The cluster utility cannot answer here: everything is backed up.
    EXPECT_EQ(Run(defaultSc)->GetScanContentConfiguration()->GetScanContent(), (Strings{"/data"}));
    // Only a default subclient is touched.
    EXPECT_EQ(scanned({{"content", {"/data"}}}), (Strings{"/data"}));
    // With mount points, a virtual client backs up its service group's mount points...
    EXPECT_EQ(scanned(defaultSc), (Strings{"/mnt/sg1a", "/mnt/sg1b"}));

    // ...and the physical node leaves them to it.
    m_settings->Put("Machines", "sPhysicalNodeName", "client1");
    auto content = Run<ClusterContent>(defaultSc);
    EXPECT_EQ(content->GetScanContentConfiguration()->GetScanContent(), (Strings{"/data"}));
    EXPECT_EQ(content->GetScanContentConfiguration()->GetFilters(), (Strings{"/mnt/sg1a", "/mnt/sg1b"}));

    m_settings->Put("Machines", "sVCS_DisableProcessing", "PM");
    EXPECT_TRUE(Run<ClusterContent>(defaultSc)->GetScanContentConfiguration()->GetFilters().empty());
    m_settings->Put("Machines", "sPhysicalNodeName", "");
    m_settings->Put("Machines", "sVCS_DisableProcessing", "all");
    EXPECT_EQ(scanned(defaultSc), (Strings{"/data"}));
}

TEST(ContentPathPredicates, NestedMountsAndDuplicates)
{
    const isNestedMount underData("/data/b");
    for (const auto& [path, nested] : std::vector<std::pair<const char*, bool>>{
             {"/data", true}, {"/data/b", true}, {"/data//", true}, {"/", true}, {"/dat", false}, {"/data/b/c", false},
             {"", false}})
        EXPECT_EQ(underData(path), nested) << path;
    EXPECT_FALSE(isNestedMount::IsAncestorOf("/a", "/a/", true));
    EXPECT_TRUE(isNestedMount::IsAncestorOf("/a", "/a//b", true));

    EXPECT_FALSE(isDuplicate({})("/a"));
    const isDuplicate known({"/a/", "//b"});
    for (const auto& [path, duplicate] :
         std::vector<std::pair<const char*, bool>>{{"/a", true}, {"/b//", true}, {"/a/b", false}, {"", false}})
        EXPECT_EQ(known(path), duplicate) << path;
    EXPECT_EQ(isDuplicate::Normalize("//x//y///"), "/x/y");
    EXPECT_EQ(isDuplicate::Normalize("///"), "/");
}

}  // namespace
