// engine_walk: the scan engine's full walk of a tree, one collect line per item through the
// collect-file writer, on N folder-level workers. Compared with floor_walker (the least a
// scanner must do) on the same tree; both print the same record (bench/README.md).
//
//   engine_walk [-t THREADS] [-o OUTPUT] [--no-collect] TREE
//
// --no-collect ends the chain in a counter instead of the collect writer: the walk alone, to
// tell the engine's share of the time from the writer's.
// The chain is what a scan puts at the end of a volume's chain: the directory-change/collect
// split with accept-all evaluators and the collect writer on the collect side, no
// directory-change writer.
#include "CollectFile/FlatCollectFile.h"
#include "Engine/DirChangeCollectItemConsumer.h"
#include "Engine/ScanArbiter.h"
#include "Engine/ScanFailureConsumer.h"
#include "Engine/ScannerCallback.h"
#include "Engine/WorkUnitManager.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>
#include <string>
#include <sys/resource.h>

namespace {

class CountingFailureConsumer : public CScanFailureConsumer {
public:
    CKxError Process(const CItemPtr&) override
    {
        m_failures.fetch_add(1, std::memory_order_relaxed);
        return CKxError::Success();
    }
    unsigned long long Failures() const { return m_failures.load(); }

private:
    std::atomic<unsigned long long> m_failures{0};
};

// Counts per chain (one chain per worker), so that the walk alone shares nothing per item.
class CountingConsumer : public CItemConsumer {
public:
    CKxError Process(const CItemPtr& item) override
    {
        ++m_items;
        m_folders += item->IsFolder() ? 1 : 0;
        return CKxError::Success();
    }
    unsigned long long m_items = 0;
    unsigned long long m_folders = 0;
};

class BenchCallback : public CScannerCallback {
public:
    explicit BenchCallback(CFlatCollectFilePtr collect) : m_collect(std::move(collect)) {}
    CKxError GetOutputHandler(const std::string&, CConsumerOutputHandlerPtr& handler) override
    {
        CItemConsumerPtr writer = m_collect;
        if (!writer) {
            auto counter = std::make_shared<CountingConsumer>();
            std::lock_guard lock(m_countersLock);
            m_counters.push_back(counter);
            writer = counter;
        }
        auto last = std::make_shared<CDirChangeCollectItemConsumer>(1, std::make_shared<CItemEvaluator>(), nullptr,
                                                                    std::make_shared<CItemEvaluator>(), writer);
        handler = std::make_shared<CConsumerOutputHandler>(last);
        return CKxError::Success();
    }

    // Items and folders counted by the chains (the walk is over when this is called).
    std::pair<unsigned long long, unsigned long long> Counted()
    {
        std::lock_guard lock(m_countersLock);
        unsigned long long items = 0, folders = 0;
        for (const auto& counter : m_counters) {
            items += counter->m_items;
            folders += counter->m_folders;
        }
        return {items, folders};
    }

private:
    CFlatCollectFilePtr m_collect;
    std::mutex m_countersLock;
    std::vector<std::shared_ptr<CountingConsumer>> m_counters;
};

double CpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long PeakRssKib()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int Usage()
{
    std::fprintf(stderr, "usage: engine_walk [-t THREADS] [-o OUTPUT] [--no-collect] TREE\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    int threads = 1;
    std::string output = "/tmp/engine_walk.out";
    std::string tree;
    bool collectLines = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-t" && i + 1 < argc)
            threads = std::atoi(argv[++i]);
        else if (arg == "-o" && i + 1 < argc)
            output = argv[++i];
        else if (arg == "--no-collect")
            collectLines = false;
        else if (!arg.empty() && arg[0] != '-' && tree.empty())
            tree = arg;
        else
            return Usage();
    }
    if (tree.empty() || threads < 1)
        return Usage();
    while (tree.size() > 1 && tree.back() == '/')
        tree.pop_back();

    auto collect = std::make_shared<CFlatCollectFile>(1, output, tree);
    if (CKxError e = collect->Open(); e.IsError()) {
        std::fprintf(stderr, "engine_walk: %s\n", e.AsString().c_str());
        return 1;
    }
    auto failures = std::make_shared<CountingFailureConsumer>();
    auto manager = std::make_shared<CWorkUnitManager>(1);
    manager->SetScanFailureConsumer(failures);
    auto context = std::make_shared<CBag>();
    (void)context->Write("MaxWorkers", threads);
    manager->SetDefaultContext(context);
    manager->SetMountPoints({"/"});  // one unit for the tree, whatever is mounted where

    const auto start = std::chrono::steady_clock::now();
    if (CKxError e = manager->FinalizeWorkUnits({tree}, {}, {}, {}, {}, {}); e.IsError()) {
        std::fprintf(stderr, "engine_walk: %s\n", e.AsString().c_str());
        return 1;
    }
    auto callback = std::make_shared<BenchCallback>(collectLines ? collect : nullptr);
    CScanArbiter arbiter(1, 1, callback);
    CKxError status = arbiter.Run(manager);
    CKxError closed = collect->Close();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (status.IsError() || closed.IsError()) {
        std::fprintf(stderr, "engine_walk: %s %s\n", status.AsString().c_str(), closed.AsString().c_str());
        return 1;
    }
    const auto [countedItems, countedFolders] = callback->Counted();
    const unsigned long long items = collectLines ? collect->GetItemCount() : countedItems;
    const unsigned long long folders = collectLines ? collect->GetFolderCount() : countedFolders;
    std::printf("engine_walk tree=%s threads=%d items=%llu folders=%llu errors=%llu seconds=%.6f items_per_sec=%.0f "
                "peak_rss_kib=%ld output_bytes=%llu cpu_seconds=%.6f\n",
                tree.c_str(), threads, items, folders,
                failures->Failures(), seconds, seconds > 0 ? static_cast<double>(items) / seconds : 0.0, PeakRssKib(),
                static_cast<unsigned long long>(collect->tellp()), CpuSeconds());
    return 0;
}
