// Subclient content against a scratch instance: the application configuration gives content and
// filters, the bag gives the switches. Covers the per-entry translation, content files, new
// content, laptop filters, overlapping content, the lists handed to the work units, and the
// content-change check; then the Unix steps on real files: the system denylist, content reached
// through symbolic links (loops and duplicates, with their events), the root content of a
// default subclient, the guards of cluster service groups, and the path predicates.
#include "Agent/SubclientConf.h"
#include "Engine/WorkUnitManager.h"
#include "Scan/ScanJobTestEnv.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/SubclientContent.h"
#include "Scan/SubclientContentPrivate.h"
#include "Scan/Unix/SubclientContentUnix.h"
#include "Scan/Unix/UnixSymbolicLink.h"
#include "Scan/Unix/isDuplicate.h"
#include "Scan/Unix/isNestedMount.h"

namespace Id = SXScannerConfigurationBagId;
namespace fs = std::filesystem;
using json = nlohmann::json;
using L = CScanContentConfiguration;
using Strings = std::vector<std::string>;

namespace {

class SubclientContentTest : public ScanJobTestEnv {
protected:
    void SetUp() override
    {
        ScanJobTestEnv::SetUp();
        m_bag = std::make_shared<CBag>();
        ASSERT_TRUE(m_bag->Write(Id::idLoadContentFile, true).IsSuccess());
        m_tree = fs::canonical(m_root).string() + "/tree";
        fs::create_directories(m_tree);
        m_deny = m_root + "/deny";
        m_legacy = m_root + "/black";
    }

    template <typename Content = CSubclientContent>
    std::unique_ptr<Content> Make(long long referenceTime = 0)
    {
        auto content = std::make_unique<Content>("client1", "2:5", 2, m_bag, CTimeStamp(referenceTime));
        content->SetDenylistFiles(m_deny, m_legacy);
        return content;
    }

    // Runs Process on a fresh content object and expects it to succeed.
    template <typename Content = CSubclientContent>
    std::unique_ptr<Content> Run(const json& subclient)
    {
        WriteSubclient(subclient);
        auto content = Make<Content>();
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
using SubclientContentUnixTest = SubclientContentTest;

TEST_F(SubclientContentTest, TranslationTable)
{
    WriteSubclient({});
    using K = CSubclientContentUnix::EEntryKind;
    struct Case {
        const char* entry;
        K kind;
        const char* expected;  // nullptr: ignored
        unsigned baseVersion = 11;
    };
    const Case cases[] = {
        {"*.tmp", K::Filter, "/**/*.tmp"},
        {"/data/*.tmp", K::Filter, "/data/*.tmp"},
        {"/data/logs", K::Filter, "/data/logs"},
        {"logs", K::Filter, "logs"},                   // no wildcard: the engine matches the name anywhere
        {"*.doc", K::Content, "/**/*.doc"},
        {"?x", K::FilterException, "/**/?x"},
        {"*", K::Filter, "*"},                         // one character: nothing to put in front of
        {"%Docs%*", K::Filter, "%Docs%*"},
        {"<INCLUDE>*", K::Filter, "<INCLUDE>*"},
        {"*.tmp\t\r\n", K::Filter, "/**/*.tmp"},
        {"\t\r\n", K::Filter, nullptr},
        {"", K::Content, nullptr},
        {"\\", K::Content, nullptr},
        {"\\data\\x", K::Content, "data\\x"},
        {"\\\\srv\\share", K::Content, "UNC-NT_srv\\share"},
        {"abc\\/\\/", K::Filter, "/**/abc"},
        {"/data/x\\/\\/", K::Filter, "/data/x"},
        // Base versions 1 to 10 widen a trailing star.
        {"/data/*", K::Filter, "/data/*"},
        {"/data/*", K::Filter, "/data/*", 0},
        {"/data/*", K::Filter, "/data/**", 1},
        {"/data/*", K::Filter, "/data/**", 10},
        {"*/*", K::Filter, "/**/*/*", 0},
        {"*/*", K::Filter, "/**/*/**", 1},
        {"*/*", K::Filter, "/**/*/**", 10},
        {"*/*", K::Filter, "/**/*/*"},
        {"/data/x", K::Filter, "/data/x", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.baseVersion));
        ASSERT_TRUE(m_bag->Write(Id::idInstanceBaseVersion, c.baseVersion).IsSuccess());
        auto content = Make();
        ASSERT_TRUE(content->Initialize().IsSuccess());
        std::string out;
        const bool taken =
            Unix(*content).TranslateEntry(c.entry, c.kind, out);
        if (!c.expected) {
            EXPECT_FALSE(taken) << "[" << c.entry << "] -> [" << out << "]";
            continue;
        }
        EXPECT_TRUE(taken) << c.entry;
        EXPECT_EQ(out, c.expected) << c.entry;
    }
}

TEST_F(SubclientContentTest, ListsInOrderAndEngineLists)
{
    auto content = Run({{"content", {"/data", "/home/*.doc", "relative/path"}},
                        {"filters", {"/data/cache", "*.tmp", "[bad"}},
                        {"filterExceptions", {"/data/cache/keep"}},
                        {"fileNameFilters", {"core", "*.o"}},
                        {"otherSubclientsContent", {"/data/db"}}});
    const L& c = *content->GetScanContentConfiguration();
    EXPECT_EQ(c.GetScanContent(), (Strings{"/data", "/home/*.doc"}));
    EXPECT_EQ(c.GetScanContentExceptions(), (Strings{"/data/db"}));
    EXPECT_EQ(c.GetFilters(), (Strings{"/data/cache", "/**/*.tmp", "core", "/**/*.o"}));
    EXPECT_EQ(c.GetFilterExceptions(), (Strings{"/data/cache/keep"}));

    // The work units get the lists (what the filters then decide is proven on real trees).
    CWorkUnitManager manager(7);
    manager.SetMountPoints({"/"});
    ASSERT_TRUE(c.FinalizeWorkUnits(manager).IsSuccess());
    ASSERT_EQ(manager.GetWorkUnitMap().size(), 1u);
    const CWorkUnitPtr& unit = manager.GetWorkUnitMap().begin()->second;
    EXPECT_EQ(unit->GetScanContentItems(), (Strings{"/data", "/home/*.doc"}));
    EXPECT_TRUE(unit->GetFilters().Contains("/data/a/b/core"));
    EXPECT_FALSE(unit->GetFilters().Contains("/data/cache/keep/x"));
}

TEST_F(SubclientContentTest, FileNameContentNarrowsEveryContentPathAndPlainEntriesKeepTheirBackslashes)
{
    auto content = Run({{"content", {"/data", "/", "/odd\\dir"}}, {"fileNameContent", {"*.doc", "README", "/abs/*.pdf"}}});
    const L& c = *content->GetScanContentConfiguration();
    EXPECT_EQ(c.GetScanContent(), (Strings{"/data", "/", "/odd\\dir"}));
    EXPECT_EQ(c.GetNameContent(), (Strings{"/**/*.doc", "README", "/abs/*.pdf"}));
    EXPECT_EQ(c.GetWorkUnitLists().content,
              (Strings{"/data/**/*.doc", "/**/*.doc", "/odd\\\\dir/**/*.doc", "/data/**/README", "/**/README",
                       "/odd\\\\dir/**/README", "/abs/*.pdf"}));

    CFilterSet narrowed;
    ASSERT_TRUE(narrowed.AddFilterItem(c.GetWorkUnitLists().content[2]).IsSuccess());
    EXPECT_TRUE(narrowed.Contains("/odd\\dir/sub/a.doc"));
    EXPECT_FALSE(narrowed.Contains("/odddir/sub/a.doc"));

    // Plain entries keep their backslashes for the engine.
    auto plain = Run({{"filters", {"/data/a\\b", "/data/\\*.star"}}});
    const L& p = *plain->GetScanContentConfiguration();
    EXPECT_EQ(p.GetWorkUnitLists().filters, (Strings{"/data/a\\\\b", "/data/\\*.star"}));
    L::SFilterSets sets;
    ASSERT_TRUE(p.BuildFilterSetsFromPathLists(sets).IsSuccess());
    EXPECT_TRUE(sets.filters.Contains("/data/a\\b"));
    EXPECT_FALSE(sets.filters.Contains("/data/ab"));
    EXPECT_TRUE(sets.filters.Contains("/data/*.star"));
    EXPECT_FALSE(sets.filters.Contains("/data/x.star"));
}

TEST_F(SubclientContentTest, LaptopClientGetsTheDefaultFiltersAndOverlappingContentOfOtherSubclientsIsSkipped)
{
    const Strings defaults = {"*.zvconflict*", "*.conflict*", "/**/.quillbox.cache/", "~*", "/**/LostAndFound/"};
    EXPECT_TRUE(Run({})->GetScanContentConfiguration()->GetFilters().empty());

    ASSERT_TRUE(m_bag->Write(Id::idLaptopClient, true).IsSuccess());
    EXPECT_EQ(Run({})->GetScanContentConfiguration()->GetFilters(), defaults);

    // After the folder filters, before the file-name filters; a repeated entry is kept once.
    Strings expected = {"/data/x", "/**/*.conflict*"};
    expected.insert(expected.end(), defaults.begin(), defaults.end());
    expected.push_back("core");
    EXPECT_EQ(Run({{"filters", {"/data/x", "*.conflict*"}}, {"fileNameFilters", {"core", "/**/LostAndFound/"}}})
                  ->GetScanContentConfiguration()
                  ->GetFilters(),
              expected);

    // Overlapping content of other subclients, for any client.
    m_bag = std::make_shared<CBag>();
    const json others = {{"content", {"/data/sub", "/srv"}},
                         {"otherSubclientsContent", {"/data/sub/db", "/data/*.log", "/data", "/", "/elsewhere"}}};
    auto content = Run(others);
    EXPECT_EQ(content->GetScanContentConfiguration()->GetScanContentExceptions(), (Strings{"/data/sub/db", "/elsewhere"}));

    // The default subclient skips the wildcard content too.
    json asDefault = others;
    asDefault["default"] = true;
    EXPECT_EQ(Run(asDefault)->GetScanContentConfiguration()->GetScanContentExceptions(),
              (Strings{"/data/sub/db", "/data/*.log", "/elsewhere"}));

    ASSERT_TRUE(m_bag->Write(Id::idDisableSkipOverlapContent, true).IsSuccess());
    EXPECT_TRUE(Run(others)->GetScanContentConfiguration()->GetScanContentExceptions().empty());
}

TEST_F(SubclientContentTest, MigrationAssistantAndCacheDatabaseMonikers)
{
    auto content = Run({{"content", {"/data", "/%migrationassistant%", "%Docs%", "/%Music%"}},
                        {"filters", {"%MigrationAssistant%", "%Temp%"}}});
    const L& c = *content->GetScanContentConfiguration();
    EXPECT_TRUE(c.IncludesMigrationAssistantContent());
    // A moniker stays as it is; content must still be an absolute path.
    EXPECT_EQ(c.GetScanContent(), (Strings{"/data", "/%Music%"}));
    EXPECT_EQ(c.GetFilters(), (Strings{"%Temp%"}));

    content = Run({{"content", {"/data", "%CacheDB%", "/later"}}});
    EXPECT_EQ(content->GetScanContentConfiguration()->GetScanContent(), (Strings{"/data"}));
    EXPECT_TRUE(content->IsCacheDBBackup());
    EXPECT_TRUE(m_bag->GetBool(Id::idCacheDBBackup));

    // Only the cache database: nothing else to back up, still not an empty-content failure.
    m_bag = std::make_shared<CBag>();
    EXPECT_TRUE(Run({{"content", {"/%cachedb%"}}})->GetScanContentConfiguration()->GetScanContent().empty());
}

// A subclient configuration whose filter query for one kind fails.
class FailingConf : public SubclientConf {
public:
    FailingConf(std::shared_ptr<const SubclientData> data, int failKind) : SubclientConf(std::move(data)), m_kind(failKind) {}
    CKxError getFilters2(int kind, std::vector<std::string>& patterns) const override
    {
        if (kind == m_kind)
            return CKxError(KxCode::BadConfiguration, "no filters");
        return SubclientConf::getFilters2(kind, patterns);
    }

private:
    int m_kind;
};

class ContentWithFailingConf : public CSubclientContent {
public:
    ContentWithFailingConf(CBagPtr bag, int failKind) : CSubclientContent("client1", "2:5", 2, std::move(bag)), m_kind(failKind) {}
    CKxError LoadSubClientConfiguration() override
    {
        auto data = std::make_shared<SubclientData>(GetSubclient()->Data());
        SetSubclientConf(std::make_shared<FailingConf>(data, m_kind));
        return CKxError::Success();
    }

private:
    int m_kind;
};

TEST_F(SubclientContentTest, EmptyOrUnreadableConfigurationAndFailedFilterQueriesStopTheLoad)
{
    WriteSubclient({{"content", json::array()}});
    CKxError e = Make()->Process();
    EXPECT_EQ(e.Code(), 4306);
    EXPECT_EQ(e.Message(), "Nothing to backup, sub-client=sc1");

    // Every entry ignored: nothing left either.
    WriteSubclient({{"content", {"relative", "\t"}}});
    EXPECT_EQ(Make()->Process().Code(), 4306);

    WriteSubclient({});
    for (const auto& [kind, name] : {std::pair{SubclientConf::YESDIRS, "YESDIRS"}, {SubclientConf::NODIRS, "NODIRS"},
                                     {SubclientConf::YESFILES, "YESFILES"}, {SubclientConf::NOFILES, "NOFILES"}}) {
        e = ContentWithFailingConf(m_bag, kind).Process();
        EXPECT_EQ(e.Code(), KxCode::BadConfiguration);
        EXPECT_NE(e.AsString().find("getFilters2(" + std::string(name) + ") failed"), std::string::npos) << e.AsString();
    }

    WriteFile(AppConfigPath("2:5"), R"({"appType": 29})");
    e = Make()->Process();
    EXPECT_NE(e.AsString().find("Error getting sub-client"), std::string::npos) << e.AsString();
}

TEST_F(SubclientContentTest, NewContentFromTheManagementServer)
{
    struct FakeQuery : CNewContentQuery {
        EAnswer answer;
        Strings entries;
        EAnswer GetModifiedFileList(const std::string& request, Strings& out, int& result, std::string& response) override
        {
            EXPECT_NE(request.find("<GetModifiedFileListReq clientName=\"client1\" appId=\"2:5\""), std::string::npos);
            out = entries;
            result = 3;
            response = "busy";
            return answer;
        }
    };
    WriteSubclient({});
    auto run = [this](std::shared_ptr<FakeQuery> query, long long reference) {
        auto content = Make(reference);
        if (query)
            content->SetNewContentQuery(query);
        EXPECT_TRUE(content->Process().IsSuccess());
        return content->GetScanContentConfiguration()->GetNewContent();
    };
    // No server here: the request is not recognised, which is no new content.
    EXPECT_TRUE(run(nullptr, 1000).empty());

    auto query = std::make_shared<FakeQuery>();
    query->answer = CNewContentQuery::EAnswer::Answered;
    query->entries = {"/new/a", "*.doc", "relative"};
    EXPECT_TRUE(run(query, 0).empty());  // a full backup does not ask
    EXPECT_EQ(run(query, 1000), (Strings{"/new/a", "/**/*.doc"}));

    query->entries.clear();
    EXPECT_TRUE(run(query, 1000).empty());
    query->answer = CNewContentQuery::EAnswer::Failed;
    EXPECT_TRUE(run(query, 1000).empty());
}

TEST_F(SubclientContentTest, ContentFilesAndTheirLoadTypes)
{
    const std::string list = m_root + "/list.txt";
    WriteFile(list, "/data/one\r\n\n  \t\n/data/two\t\n*.doc\n<INCLUDE>" + m_root + "/nested.txt\n");
    WriteFile(m_root + "/nested.txt", "/data/three\n<include>" + list + "\n");  // includes its includer
    WriteFile(m_root + "/filters.txt", "*.tmp\n/data/one/skip\n");
    ::mkdir((m_root + "/folder").c_str(), 0755);

    auto content = Run({{"content", {"<INCLUDE>" + list, "/<Include>" + m_root + "/missing.txt",
                                     "<INCLUDE>" + m_root + "/folder", "/data/plain"}},
                        {"filters", {"<INCLUDE>" + m_root + "/filters.txt"}}});
    const L& c = *content->GetScanContentConfiguration();
    EXPECT_EQ(c.GetScanContent(), (Strings{"/data/one", "/data/two", "/**/*.doc", "/data/three", "/data/plain"}));
    EXPECT_EQ(c.GetFilters(), (Strings{"/**/*.tmp", "/data/one/skip"}));
    EXPECT_EQ(content->GetFailedContentFiles(), (Strings{m_root + "/missing.txt"}));

    // Content that was only missing content files.
    WriteSubclient({{"content", {"<INCLUDE>" + m_root + "/missing.txt"}}});
    EXPECT_EQ(Make()->Process().Code(), KxCode::NotFound);

    // What a content file is loaded as; the marker alone is not a content file.
    WriteSubclient({});
    auto loader = Make();
    ASSERT_TRUE(loader->Initialize().IsSuccess());
    WriteFile(m_root + "/ex.txt", "*.keep\n");
    Strings out;
    bool isFile = true;
    EXPECT_EQ(loader->LoadContentFile("<INCLUDE>" + m_root + "/ex.txt", isFile, 7, out).Code(), KxCode::InvalidParameter);
    EXPECT_FALSE(isFile);
    EXPECT_TRUE(loader->LoadContentFile("<INCLUDE>", isFile, 1, out).IsSuccess());
    EXPECT_FALSE(isFile);
    EXPECT_TRUE(loader->LoadContentFile("<INCLUDE>" + m_root + "/ex.txt", isFile, 3, out).IsSuccess());
    EXPECT_TRUE(isFile);
    EXPECT_EQ(out, (Strings{"/**/*.keep"}));

    // Without the switch the marker is an ordinary entry, which is no absolute path.
    ASSERT_TRUE(m_bag->Write(Id::idLoadContentFile, false).IsSuccess());
    EXPECT_EQ(Run({{"content", {"<INCLUDE>" + list, "/data"}}})->GetScanContentConfiguration()->GetScanContent(),
              (Strings{"/data"}));
}

class ContentStatusTest : public SubclientContentTest {
protected:
    std::unique_ptr<CSubclientContent> Current()
    {
        return Run({{"content", {"/data", "/home"}}, {"filters", {"*.tmp"}}, {"filterExceptions", {"/data/keep"}}});
    }
    bool Changed(const std::string& previous)
    {
        const std::string path = m_root + "/status.txt";
        WriteFile(path, previous);
        bool changed = true;
        EXPECT_TRUE(Current()->HasSubclientContentChanged(path, changed).IsSuccess());
        return changed;
    }
};

TEST_F(ContentStatusTest, SavedStatusComparesUnchangedAndChangesAreDetected)
{
    const std::string path = m_root + "/ScanView.txt";
    auto content = Current();
    ASSERT_TRUE(content->SaveSubclientStatus(path).IsSuccess());
    EXPECT_EQ(ReadFile(path),
              "ClientContent||F||/data\nClientContent||F||/home\nClientFilters||F||/**/*.tmp\n"
              "ClientFilters||E||/data/keep\n");
    bool changed = true;
    ASSERT_TRUE(content->HasSubclientContentChanged(path, changed).IsSuccess());
    EXPECT_FALSE(changed);

    EXPECT_EQ(content->SaveSubclientStatus(m_root + "/no/such/folder/status").Code(), ENOENT);

    const std::string same = "ClientFilters||E||/data/keep\r\n  ClientContent||F||/home  \n\n"
                             "clientcontent||F||/data\nClientFilters||F||/**/*.tmp\n"
                             "Exception||F||/x\nClientContent||X||/odd\nClientFilters||S||/sys\nshort||line\n";
    EXPECT_FALSE(Changed(same));  // order, case of the kind, blanks and line ends do not count

    EXPECT_TRUE(Changed("ClientContent||F||/data\nClientFilters||F||/**/*.tmp\nClientFilters||E||/data/keep\n"));
    EXPECT_TRUE(Changed("ClientContent||F||/data\nClientContent||F||/srv\nClientFilters||F||/**/*.tmp\n"
                        "ClientFilters||E||/data/keep\n"));
    EXPECT_TRUE(Changed("ClientContent||F||/data\nClientContent||F||/home\nClientFilters||F||*.tmp\n"
                        "ClientFilters||E||/data/keep\n"));
    EXPECT_TRUE(Changed("ClientContent||F||/data\nClientContent||F||/home\nClientFilters||F||/**/*.tmp\n"
                        "ClientFilters||E||/data/other\n"));

    // A previous file that cannot be read is no change.
    ::mkdir((m_root + "/folder").c_str(), 0755);
    for (const std::string& unreadable : {m_root + "/none", m_root + "/folder"}) {
        bool changed = true;
        ASSERT_TRUE(Current()->HasSubclientContentChanged(unreadable, changed).IsSuccess());
        EXPECT_FALSE(changed) << unreadable;
    }
}

// ---- Unix steps ---------------------------------------------------------------------------------

TEST_F(SubclientContentUnixTest, SystemFiltersDenylistSourcesSwitchesAndDefaultRootContent)
{
    auto systemFilters = [this]() {
        return Run({{"content", {"/data"}}})->GetScanContentConfiguration()->GetSystemFilters();
    };
    EXPECT_TRUE(systemFilters().empty());
    // The agent's own folders under the content are filtered.
    const Strings agent = {m_instance + "/JobResults/", m_instance + "/tmp/"};
    auto underRoot = Run({{"content", {m_root, "/data"}}});
    EXPECT_EQ(underRoot->GetScanContentConfiguration()->GetSystemFilters(), agent);
    EXPECT_EQ(underRoot->GetScanContentConfiguration()->GetWorkUnitLists().systemFilters, agent);

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
