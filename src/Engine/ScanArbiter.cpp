#include "Engine/ScanArbiter.h"

#include "Base/FunctionTrace.h"
#include "Base/LogWriter.h"
#include "Engine/FindFirstScanEngine.h"
#include "Engine/ScanContext.h"
#include "Engine/WalkRoot.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <thread>
#include <vector>

namespace {
// Walks one unit: each root goes to the first engine that accepts it.
void WalkUnit(CScanContext& context, const CScanEngineList& engines, CWorkUnit& unit)
{
    if (context.PollStop()) {
        unit.SetStatus(CKxError(KxCode::OperationAborted, "The scan stopped before this unit was walked"));
        return;
    }
    std::vector<std::pair<CScanEngine*, std::vector<const CWalkRoot*>>> plan;
    for (const CWalkRoot& root : unit.GetWalkRoots()) {
        CScanEngine* chosen = nullptr;
        for (const CScanEnginePtr& engine : engines)
            if (engine && engine->AcceptsRoot(root)) {
                chosen = engine.get();
                break;
            }
        if (!chosen) {
            FSLOG_ERROR("No scan engine accepts [%s]", root.GetLocalPath().c_str());
            auto item = std::make_shared<CItem>(root.GetLocalPath(), root.GetSourcePath(), false);
            unit.CountFailure();
            (void)context.ReportFailure(item, ENOTSUP);
            continue;
        }
        auto it = std::find_if(plan.begin(), plan.end(), [&](const auto& entry) { return entry.first == chosen; });
        if (it == plan.end())
            plan.push_back({chosen, {&root}});
        else
            it->second.push_back(&root);
    }
    for (auto& [engine, roots] : plan) {
        if (context.IsStopped())
            break;
        FSLOG(3, "Engine [%s] walks %zu root(s) of unit [%s]", engine->AsString().c_str(), roots.size(),
              unit.GetKey().c_str());
        CKxError e = engine->Scan(context, unit, roots);
        if (e.IsError()) {
            e.Push("Walk of work unit " + unit.GetKey() + " failed");
            unit.SetStatus(e);
            context.Stop(unit.GetVolumeName(), std::move(e));
        }
    }
}
}  // namespace

CScanArbiter::CScanArbiter(long long jobId, int workerCount, CScannerCallbackPtr callback)
    : m_jobId(jobId), m_workerCount(std::max(1, workerCount)), m_callback(std::move(callback))
{
}

CScanArbiter::~CScanArbiter() = default;

CKxError CScanArbiter::GetFinalStatus() const
{
    std::lock_guard lock(m_finalStatusLock);
    return m_finalStatus;
}

CKxError CScanArbiter::Run(const CWorkUnitManagerPtr& manager)
{
    FSTRACE();
    auto finish = [this](CKxError status) {
        std::lock_guard lock(m_finalStatusLock);
        m_finalStatus = status;
        return status;
    };
    if (!m_callback)
        return finish(CKxError(KxCode::InvalidParameter, "The scan arbiter has no callback"));
    if (!manager)
        return finish(CKxError(KxCode::InvalidParameter, "The scan arbiter has no work-unit manager"));

    CKxError e = m_callback->ImpersonateUser();
    if (e.IsError())
        return finish(std::move(e.Push("ImpersonateUser failed")));

    CScanEngineList engines;
    e = m_callback->GetScanEngineList(engines);
    if (e.IsError())
        return finish(std::move(e.Push("GetScanEngineList failed")));
    if (engines.empty())
        engines.push_back(std::make_shared<CFindFirstScanEngine>());

    CScanFailureConsumerPtr failureConsumer = manager->GetScanFailureConsumer();
    if (!failureConsumer) {
        e = m_callback->GetScanFailureConsumer(failureConsumer);
        if (e.IsError())
            return finish(std::move(e.Push("GetScanFailureConsumer failed")));
    }

    std::vector<CWorkUnitPtr> units;
    for (const auto& [key, unit] : manager->GetPhysicalMediaVolumeWorkUnitMap()) {
        if (!unit)
            return finish(CKxError(KxCode::InvalidParameter, KxFormat("NULL work unit found in list, key=%s", key.c_str())));
        unit->Prepare(manager->GetContentMapper());
        units.push_back(unit);
    }

    CScanContext context(m_jobId, *m_callback, failureConsumer, manager->GetFollowMountPaths(), m_settings);
    context.SetWalkIdentity(m_walkIdentity);
    const int threads = std::min<int>(m_workerCount, static_cast<int>(units.size()));
    FSLOG(0, "Scanning %zu work unit(s) with %d thread(s)", units.size(), threads);

    std::atomic<size_t> next{0};
    auto worker = [&]() {
        CFileSystemIdentity::CAssumed asUser(context.GetWalkIdentity());
        if (asUser.GetStatus().IsError()) {
            // Walking with the process's own rights would take what the user may not read.
            context.Stop(std::string(), CKxError(asUser.GetStatus()).Push("The walk cannot read as the job's user"));
            return;
        }
        for (size_t i = next.fetch_add(1); i < units.size(); i = next.fetch_add(1)) {
            WalkUnit(context, engines, *units[i]);
            m_callback->LogVolumeScanComplete(*units[i]);
        }
    };
    if (threads <= 1) {
        worker();
    } else {
        std::vector<std::thread> pool;
        pool.reserve(threads);
        for (int t = 0; t < threads; ++t)
            pool.emplace_back(worker);
        for (std::thread& thread : pool)
            thread.join();
    }

    CKxError status = context.GetFinalStatus();
    FSLOG(0, "Scan complete with final error %lX", static_cast<unsigned long>(status.Code()));
    return finish(std::move(status));
}
