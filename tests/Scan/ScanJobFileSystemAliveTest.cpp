// The alive report of a running job: the period rule decided on given times (no waiting), and
// the thread's start and stop.
#include "Scan/JobAliveReporter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace {

using namespace std::chrono_literals;
using Clock = CJobAliveReporter::Clock;

struct FakeJob {
    bool alive = false;
    int marks = 0;
    int resets = 0;
    bool markFails = false;

    CJobAliveReporter::SHooks Hooks()
    {
        CJobAliveReporter::SHooks hooks;
        hooks.isAlive = [this] { return alive; };
        hooks.resetAlive = [this] {
            alive = false;
            ++resets;
        };
        hooks.markAlive = [this] {
            ++marks;
            return markFails ? CKxError(5, "job manager away") : CKxError::Success();
        };
        return hooks;
    }
};

TEST(JobAliveReporterTest, ReportsOncePerPeriodOnlyWhenTheJobWasActive)
{
    FakeJob job;
    CJobAliveReporter reporter(job.Hooks());
    const Clock::time_point start{};
    reporter.BeginPeriod(start);

    job.alive = true;
    EXPECT_FALSE(reporter.OnWake(start + 30s));
    EXPECT_FALSE(reporter.OnWake(start + 1499s));  // the period is not over
    EXPECT_EQ(job.marks, 0);
    EXPECT_TRUE(reporter.OnWake(start + 1500s));
    EXPECT_EQ(job.marks, 1);
    EXPECT_FALSE(job.alive);  // the mark is cleared for the next period

    // Idle for a whole period: nothing is reported, and a new period begins all the same.
    EXPECT_FALSE(reporter.OnWake(start + 3000s));
    EXPECT_EQ(job.marks, 1);
    job.alive = true;
    EXPECT_FALSE(reporter.OnWake(start + 4000s));  // 1000 s into the period that began at 3000
    EXPECT_TRUE(reporter.OnWake(start + 4500s));
    EXPECT_EQ(job.marks, 2);
    EXPECT_EQ(reporter.GetReportCount(), 2u);
}

TEST(JobAliveReporterTest, FailedMarkIsLoggedAndTheNextPeriodTriesAgain)
{
    FakeJob job;
    job.markFails = true;
    CJobAliveReporter reporter(job.Hooks());
    reporter.BeginPeriod(Clock::time_point{});
    job.alive = true;
    EXPECT_TRUE(reporter.OnWake(Clock::time_point{} + 1500s));
    job.alive = true;
    EXPECT_TRUE(reporter.OnWake(Clock::time_point{} + 3000s));
    EXPECT_EQ(job.marks, 2);
}

TEST(JobAliveReporterTest, StopInterruptsTheWaitAndStartRestarts)
{
    std::atomic<int> connects{0};
    CJobAliveReporter::SHooks hooks;
    hooks.connect = [&] {
        ++connects;
        return true;
    };
    // The default 30 s wait: Stop must wake the thread rather than wait it out.
    CJobAliveReporter reporter(hooks);
    reporter.Start();
    EXPECT_TRUE(reporter.IsRunning());
    reporter.Start();  // ends the running thread first
    reporter.Stop();
    EXPECT_FALSE(reporter.IsRunning());
    EXPECT_EQ(connects.load(), 2);
    reporter.Stop();  // a second stop is harmless
}

TEST(JobAliveReporterTest, ThreadWithoutJobManagerEndsAtOnce)
{
    CJobAliveReporter::SHooks hooks;
    hooks.connect = [] { return false; };
    int marks = 0;
    hooks.markAlive = [&] {
        ++marks;
        return CKxError::Success();
    };
    CJobAliveReporter reporter(hooks, 1ms, 1ms);
    reporter.Start();
    reporter.Stop();
    EXPECT_EQ(marks, 0);
}

}  // namespace
