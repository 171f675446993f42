// Work units from content lists: volumes, lists, bags and walk roots.
#include "EngineTestSupport.h"

#include "Engine/WalkRoot.h"

using namespace enginetest;

namespace {

TEST(WorkUnitManager, OneUnitPerVolumeWithEveryListEntry)
{
    CWorkUnitManager manager(3);
    manager.SetMountPoints({"/", "/data", "/data/nested", "/Home"});
    auto context = std::make_shared<CBag>();
    ASSERT_TRUE(context->Write("MaxWorkers", 3).IsSuccess());
    manager.SetDefaultContext(context);
    ASSERT_TRUE(manager
                    .FinalizeWorkUnits({"/data/a", "/data/b/*.log", "/data/nested/x", "/Home/u", "/etc"}, {"/data/a/other"},
                                       {"*.tmp"}, {"keep.tmp"}, {"/proc"}, {"/proc/keep"})
                    .IsSuccess());
    auto& units = manager.GetPhysicalMediaVolumeWorkUnitMap();
    ASSERT_EQ(units.size(), 4u);
    std::vector<std::string> keys;
    for (const auto& [key, unit] : units)
        keys.push_back(key);
    // Volume names in case-insensitive order.
    EXPECT_EQ(keys, (std::vector<std::string>{"/", "/data", "/data/nested", "/Home"}));
    EXPECT_EQ(units.at("/data")->GetScanContentItems(), (std::vector<std::string>{"/data/a", "/data/b/*.log"}));
    EXPECT_EQ(units.at("/")->GetScanContentItems(), std::vector<std::string>{"/etc"});
    for (const auto& [key, unit] : units) {
        EXPECT_EQ(unit->GetVolumeName(), key);
        EXPECT_EQ(unit->GetMaxWorkers(), 3);
        EXPECT_TRUE(unit->GetContentExceptions().Contains("/data/a/other/f"));
        EXPECT_TRUE(unit->GetFilters().Contains("/x/y.tmp"));
        EXPECT_FALSE(unit->GetFilters().Contains("/x/keep.tmp"));
        EXPECT_TRUE(unit->GetSystemFilters().Contains("/proc/1"));
        EXPECT_FALSE(unit->GetSystemFilters().Contains("/proc/keep"));
        EXPECT_FALSE(unit->HasNoExclusions());
    }
    EXPECT_EQ(&manager.GetWorkUnitMap(), &manager.GetPhysicalMediaVolumeWorkUnitMap());
    EXPECT_EQ(manager.GetVolumeOf("/database"), "/");
    EXPECT_EQ(manager.GetVolumeOf("/data"), "/data");
    EXPECT_EQ(manager.GetVolumeOf("/data/nested/deep/er"), "/data/nested");
}

TEST(WorkUnitManager, MalformedEntriesAndEmptyUnitSlotsFail)
{
    {
        CWorkUnitManager manager(1);
        manager.SetMountPoints({"/"});
        CKxError e = manager.FinalizeWorkUnits({"relative/path"}, {}, {}, {}, {}, {});
        EXPECT_EQ(e.Code(), KxCode::InvalidParameter);
    }
    {
        CWorkUnitManager manager(1);
        manager.SetMountPoints({"/"});
        EXPECT_EQ(manager.FinalizeWorkUnits({"/data"}, {}, {"/bad[class"}, {}, {}, {}).Code(), KxCode::InvalidParameter);
    }
    {
        CWorkUnitManager manager(1);
        manager.SetMountPoints({"/"});
        manager.AddWorkUnit("/lost", nullptr);
        CKxError e = manager.FinalizeWorkUnits({"/data"}, {}, {}, {}, {}, {});
        EXPECT_EQ(e.Message(), "NULL work unit found in list, key=/lost");
        // The arbiter refuses the same manager with the same message.
        CScanArbiter arbiter(1, 1, std::make_shared<TestCallback>());
        auto shared = std::make_shared<CWorkUnitManager>(1);
        shared->AddWorkUnit("/lost", nullptr);
        EXPECT_EQ(arbiter.Run(shared).Message(), "NULL work unit found in list, key=/lost");
    }
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

TEST(WorkUnit, MaxWorkersIsAtLeastOne)
{
    CWorkUnit unit("/v", "/v");
    EXPECT_EQ(unit.GetMaxWorkers(), 1);
    ASSERT_TRUE(unit.GetBag()->Write("MaxWorkers", 0).IsSuccess());
    EXPECT_EQ(unit.GetMaxWorkers(), 1);
    ASSERT_TRUE(unit.GetBag()->Write("MaxWorkers", -4).IsSuccess());
    EXPECT_EQ(unit.GetMaxWorkers(), 1);
    ASSERT_TRUE(unit.GetBag()->Write("MaxWorkers", 7u).IsSuccess());
    EXPECT_EQ(unit.GetMaxWorkers(), 7);
    EXPECT_TRUE(unit.HasNoExclusions());
}

TEST(WorkUnit, WalkRootsMergeOverlappingContent)
{
    EXPECT_EQ(CWorkUnit::GetWalkRootOf("/data/logs/*.log"), "/data/logs");
    EXPECT_EQ(CWorkUnit::GetWalkRootOf("/data/lo*"), "/data");
    EXPECT_EQ(CWorkUnit::GetWalkRootOf("/data/"), "/data");
    EXPECT_EQ(CWorkUnit::GetWalkRootOf("/**/core"), "/");
    EXPECT_EQ(CWorkUnit::GetWalkRootOf("/"), "/");

    ScratchFolder scratch;
    MakeFolder(scratch / "a");
    MakeFolder(scratch / "b");
    CWorkUnit unit("/", "/");
    for (const std::string& content :
         {scratch / "a/x", scratch / "a", scratch / "b/*.c", scratch / "b/sub", scratch / "missing"})
        ASSERT_TRUE(unit.AddScanContentItem(content).IsSuccess());
    unit.Prepare(nullptr);
    const auto& roots = unit.GetWalkRoots();
    ASSERT_EQ(roots.size(), 3u);
    EXPECT_EQ(roots[0].GetLocalPath(), scratch / "a");
    EXPECT_TRUE(roots[0].TakesWholeTree());
    EXPECT_EQ(roots[0].GetStatErrno(), 0);
    EXPECT_EQ(roots[1].GetLocalPath(), scratch / "b");
    EXPECT_FALSE(roots[1].TakesWholeTree());
    EXPECT_TRUE(roots[1].GetContentPatterns().FilterMatches(scratch / "b/m.c", false));
    EXPECT_TRUE(roots[1].GetContentPatterns().FilterMatches(scratch / "b/sub", true));
    EXPECT_FALSE(roots[1].GetContentPatterns().FilterMatches(scratch / "b/m.h", false));
    EXPECT_EQ(roots[2].GetLocalPath(), scratch / "missing");
    EXPECT_EQ(roots[2].GetStatErrno(), ENOENT);
}

TEST(WorkUnit, PlainContentWithBackslashesIsMatchedLiterally)
{
    ScratchFolder scratch;
    MakeFolder(scratch / "w");
    MakeFile(scratch / "w/a\\b");
    MakeFile(scratch / "w/ab");
    CWorkUnit unit("/", "/");
    ASSERT_TRUE(unit.AddScanContentItem(scratch / "w/*.none").IsSuccess());
    ASSERT_TRUE(unit.AddScanContentItem(scratch / "w/a\\b").IsSuccess());
    unit.Prepare(nullptr);
    ASSERT_EQ(unit.GetWalkRoots().size(), 1u);
    const CFilterSet& patterns = unit.GetWalkRoots()[0].GetContentPatterns();
    EXPECT_TRUE(patterns.FilterMatches(scratch / "w/a\\b", false));
    EXPECT_FALSE(patterns.FilterMatches(scratch / "w/ab", false));
}

TEST(WorkUnit, StatusAndCountersAreSharedSafely)
{
    CWorkUnit unit("/", "/");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&unit, t]() {
            for (int i = 0; i < 500; ++i) {
                unit.CountItem(i % 5 == 0);
                if (i % 50 == 0)
                    unit.CountFailure();
            }
            unit.SetStatus(CKxError(100 + t, "unit failure"));
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(unit.GetItemCount(), 2000u);
    EXPECT_EQ(unit.GetFolderCount(), 400u);
    EXPECT_EQ(unit.GetFailureCount(), 40u);
    EXPECT_GE(unit.GetStatus().Code(), 100);
}

}  // namespace
