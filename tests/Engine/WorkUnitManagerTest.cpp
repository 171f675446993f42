// Work units from content lists: volumes, lists, bags and walk roots.
#include "EngineTestSupport.h"

#include "Engine/WalkRoot.h"

using namespace enginetest;

namespace {

TEST(WorkUnitManager, OneUnitPerVolumeWithEveryListEntry)
{
    CWorkUnitManager manager(3);
    manager.SetMountPoints({"/", "/data", "/data/nested", "/Home", "/home"});
    auto context = std::make_shared<CBag>();
    ASSERT_TRUE(context->Write("MaxWorkers", 3).IsSuccess());
    manager.SetDefaultContext(context);
    ASSERT_TRUE(manager
                    .FinalizeWorkUnits({"/data/a", "/data/b/*.log", "/data/nested/x", "/Home/u", "/home/v", "/etc"},
                                       {"/data/a/other"}, {"*.tmp"}, {"keep.tmp"}, {"/proc"}, {"/proc/keep"})
                    .IsSuccess());
    std::vector<std::string> keys;
    for (const auto& [key, unit] : manager.GetPhysicalMediaVolumeWorkUnitMap()) {
        keys.push_back(key);
        EXPECT_EQ(unit->GetMaxWorkers(), 3);
        EXPECT_TRUE(unit->GetContentExceptions().Contains("/data/a/other/f"));
        EXPECT_FALSE(unit->GetFilters().Contains("/x/keep.tmp"));
        EXPECT_TRUE(unit->GetSystemFilters().Contains("/proc/1"));
    }
    // Volumes differing only in case are two mounts, each with its own unit.
    EXPECT_EQ(keys, (std::vector<std::string>{"/", "/Home", "/data", "/data/nested", "/home"}));
    EXPECT_EQ(manager.GetWorkUnitMap().at("/home")->GetScanContentItems(), std::vector<std::string>{"/home/v"});
    EXPECT_EQ(manager.GetWorkUnitMap().at("/data")->GetScanContentItems(),
              (std::vector<std::string>{"/data/a", "/data/b/*.log"}));
    EXPECT_EQ(manager.GetVolumeOf("/database"), "/");
}

TEST(WorkUnitManager, MalformedEntriesAndEmptyUnitSlotsFail)
{
    auto fresh = []() {
        auto manager = std::make_shared<CWorkUnitManager>(1);
        manager->SetMountPoints({"/"});
        return manager;
    };
    EXPECT_EQ(fresh()->FinalizeWorkUnits({"relative/path"}, {}, {}, {}, {}, {}).Code(), KxCode::InvalidParameter);
    EXPECT_EQ(fresh()->FinalizeWorkUnits({"/data"}, {}, {"/bad[class"}, {}, {}, {}).Code(), KxCode::InvalidParameter);
    auto manager = fresh();
    manager->AddWorkUnit("/lost", nullptr);
    EXPECT_EQ(manager->FinalizeWorkUnits({"/data"}, {}, {}, {}, {}, {}).Message(),
              "NULL work unit found in list, key=/lost");
    CScanArbiter arbiter(1, 1, std::make_shared<TestCallback>());
    EXPECT_EQ(arbiter.Run(manager).Message(), "NULL work unit found in list, key=/lost");
}

TEST(WorkUnitManager, CaseInsensitiveWildcardsOnlyWhenConfigured)
{
    for (bool insensitive : {false, true}) {
        auto bag = std::make_shared<CBag>();
        ASSERT_TRUE(bag->Write("SC::WildCardISC", insensitive).IsSuccess());
        CWorkUnitManager manager(1);
        manager.SetConfigurationBag(bag);
        manager.SetMountPoints({"/"});
        ASSERT_TRUE(manager.FinalizeWorkUnits({"/data"}, {}, {"*.TMP", "/Plain/Name"}, {}, {}, {}).IsSuccess());
        const CFilterSet& filters = manager.GetWorkUnitMap().at("/")->GetFilters();
        EXPECT_EQ(filters.Contains("/data/x.tmp"), insensitive);
        EXPECT_FALSE(filters.Contains("/plain/name"));  // plain entries stay exact
    }
}

TEST(WorkUnit, WalkRootsMergeOverlappingContent)
{
    ScratchFolder scratch;
    MakeFolder(scratch / "a");
    MakeFolder(scratch / "b");
    MakeFile(scratch / "b/a\\b");
    CWorkUnit unit("/", "/");
    for (const std::string& content : {scratch / "a/x", scratch / "a", scratch / "b/*.c", scratch / "b/a\\b",
                                       scratch / "missing"})
        ASSERT_TRUE(unit.AddScanContentItem(content).IsSuccess());
    unit.Prepare(nullptr);
    const auto& roots = unit.GetWalkRoots();
    ASSERT_EQ(roots.size(), 3u);
    EXPECT_EQ(roots[0].GetLocalPath(), scratch / "a");
    EXPECT_TRUE(roots[0].TakesWholeTree());
    EXPECT_EQ(roots[1].GetLocalPath(), scratch / "b");
    EXPECT_FALSE(roots[1].TakesWholeTree());
    const CFilterSet& patterns = roots[1].GetContentPatterns();
    EXPECT_TRUE(patterns.FilterMatches(scratch / "b/m.c", false));
    EXPECT_TRUE(patterns.FilterMatches(scratch / "b/a\\b", false));  // a plain path matches literally
    EXPECT_FALSE(patterns.FilterMatches(scratch / "b/ab", false));
    EXPECT_EQ(roots[2].GetStatErrno(), ENOENT);

    CWorkUnit workers("/v", "/v");
    ASSERT_TRUE(workers.GetBag()->Write("MaxWorkers", -4).IsSuccess());
    EXPECT_EQ(workers.GetMaxWorkers(), 1);
    ASSERT_TRUE(workers.GetBag()->Write("MaxWorkers", 7u).IsSuccess());
    EXPECT_EQ(workers.GetMaxWorkers(), 7);
}

}  // namespace
