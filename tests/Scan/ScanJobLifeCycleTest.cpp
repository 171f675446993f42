// The job life cycle: the order of its steps and their failure paths, the common command-line
// options, the common configuration on a scratch instance, and the clean-up switch.
#include "Scan/ScanJobTestEnv.h"

#include "Scan/PostProcessingOptions.h"
#include "Scan/ScanJob.h"
#include "Scan/ScanJobFileSystem.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/ScannerOptions.h"
#include "Scan/Unix/UnixFileNameFactory.h"
#include "Scan/Unix/UnixScanJobCallback.h"

namespace {

namespace Id = SXScannerConfigurationBagId;

// Records the steps it runs; each step can be made to fail with its own code.
class RecordingJob : public CScanJob {
public:
    std::string AsString() const override { return "Recording"; }
    CKxError Configure() override { return Step("Configure", m_failConfigure); }
    CKxError Prepare() override { return Step("Prepare", m_failPrepare); }
    CKxError Run() override { return Step("Run", m_failRun); }
    CKxError Cleanup() override
    {
        CKxError base = CScanJob::Cleanup();
        if (base.IsError())
            return base;
        return Step("Cleanup", m_failCleanup);
    }

    std::vector<std::string> m_steps;
    long m_failConfigure = 0, m_failPrepare = 0, m_failRun = 0, m_failCleanup = 0;

private:
    CKxError Step(const std::string& name, long failCode)
    {
        m_steps.push_back(name);
        if (failCode != 0)
            return CKxError(failCode, name + " broke");
        return CKxError::Success();
    }
};

using Steps = std::vector<std::string>;

class ScanJobLifeCycleTest : public ScanJobTestEnv {};

// A failing step skips the rest but clean-up still runs; a clean-up error takes precedence,
// and a failing clean-up alone fails the call but is not a failure of the phase's work.
TEST_F(ScanJobLifeCycleTest, StepsRunInOrderAndFailuresSkipTheRestButCleanup)
{
    const Steps all = {"Configure", "Prepare", "Run", "Cleanup"};
    const struct {
        const char* name;
        long RecordingJob::*failing;  // made to fail with 1168, or none
        long failCleanup;
        Steps steps;
        long code;
        std::string message;  // pushed by the life cycle
        bool failPhase;
    } cases[] = {
        {"good", nullptr, 0, all, 0, "", false},
        {"configure", &RecordingJob::m_failConfigure, 0, {"Configure", "Cleanup"}, 1168,
         "Failed to configure scan job; terminating, ScanJob=Recording", true},
        {"prepare", &RecordingJob::m_failPrepare, 0, {"Configure", "Prepare", "Cleanup"}, 1168,
         "Failed to prepare scan job; terminating, ScanJob=Recording", true},
        {"run", &RecordingJob::m_failRun, 0, all, 1168, "Failed to run scan job; terminating, ScanJob=Recording", true},
        {"run and cleanup", &RecordingJob::m_failRun, 13, all, 13,
         "Failed to cleanup scan job; terminating, ScanJob=Recording", true},
        {"cleanup only", nullptr, 13, all, 13, "Failed to cleanup scan job; terminating, ScanJob=Recording", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingJob job;
        if (c.failing)
            job.*c.failing = 1168;
        job.m_failCleanup = c.failCleanup;
        CKxError result = job.Process();
        EXPECT_EQ(result.Code(), c.code);
        EXPECT_EQ(job.m_steps, c.steps);
        EXPECT_NE(result.AsString().find(c.message), std::string::npos) << result.AsString();
        EXPECT_EQ(result.Message() == "Cleanup broke", c.failCleanup != 0) << result.Message();
        EXPECT_EQ(job.isFailPhaseSet(), c.failPhase);
        EXPECT_FALSE(job.isFailJobSet());
        EXPECT_FALSE(job.isCompleteJobNowSet());
    }
}

// The backup type comes from -f, then -t; the previous job is valid only when its value is zero;
// missing identity options fail in order.
TEST_F(ScanJobLifeCycleTest, CommandLineOptions)
{
    const std::vector<std::string> identity = {"-vm", "inst", "-j", "7", "-a", "2:5", "-cn", "c", "-jt", "tok"};
    auto run = [&](const std::vector<std::string>& extra, std::uint32_t& type) {
        std::vector<std::string> tokens = identity;
        tokens.insert(tokens.end(), extra.begin(), extra.end());
        CScanJob job;
        CKxError result = job.ProcessCommandLine(Args(tokens));
        type = job.GetBackupType();
        return result;
    };
    std::uint32_t type = 0;
    // -f wins over -t; -f without a value counts as missing (neither: a row of the table below).
    for (const auto& [extra, expected] : std::vector<std::pair<std::vector<std::string>, std::uint32_t>>{
             {{"-t", "4"}, 4}, {{"-f", "1", "-t", "2"}, 1}, {{"-f", "-t", "2"}, 2}}) {
        EXPECT_TRUE(run(extra, type).IsSuccess()) << extra[0];
        EXPECT_EQ(type, expected) << extra[0];
    }
    for (const char* bad : {"x", "-1", "2x", ""})
        EXPECT_TRUE(run({"-t", bad}, type).IsError()) << "[" << bad << "]";

    const std::vector<std::pair<std::vector<std::string>, bool>> previous = {
        {{"-pcs", "0"}, true},  {{"-pcs", "5"}, false},          {{"-pbs", "0"}, true},
        {{"-pbs", "7"}, false}, {{"-pcs", "5", "-pbs", "0"}, false}, {{"-pcs", "0", "-pbs", "5"}, true},
        {{"-pcs", "abc"}, false}, {{}, false},                    {{"-pcs", "-pbs", "0"}, true},
    };
    for (const auto& [extra, valid] : previous) {
        CScanJob job;
        ASSERT_TRUE(job.ProcessCommandLine(JobArgs(extra)).IsSuccess());
        EXPECT_EQ(job.IsPrevJobValid(), valid) << (extra.empty() ? "" : extra[0] + " " + extra.back());
    }

    const std::vector<std::pair<std::vector<std::string>, std::string>> missing = {
        {{"-vm", "inst", "-a", "2:5", "-cn", "c", "-jt", "tok", "-t", "1"}, "GetJobId failed"},
        {{"-j", "7", "-a", "2:5", "-cn", "c", "-t", "1"}, "GetOption failed, Option=jt"},
        {{"-j", "7", "-jt", "tok", "-cn", "c", "-t", "1", "-vm", "i"}, "GetApplicationId failed"},
        {{"-j", "7", "-jt", "tok", "-a", "2:5", "-t", "1", "-vm", "i"}, "GetClientName failed"},
        {{"-j", "7", "-jt", "tok", "-a", "2:5", "-cn", "c", "-vm", "i"}, "GetOption failed, Option=f/t"},
        {{"-j", "7", "-jt", "tok", "-a", "2:5", "-cn", "c", "-t", "1"}, "GetOption failed, Option=vm"},
        {{"-j", "x", "-jt", "tok", "-a", "2:5", "-cn", "c", "-t", "1", "-vm", "i"}, "GetJobId failed"},
        {{"-j", "7", "-jt", "tok", "-a", "2-5", "-cn", "c", "-t", "1", "-vm", "i"}, "GetApplicationId failed"},
    };
    for (const auto& [tokens, message] : missing) {
        CScanJob job;
        CKxError result = job.ProcessCommandLine(Args(tokens));
        ASSERT_TRUE(result.IsError()) << message;
        EXPECT_EQ(result.Frames().back().message, message);  // the outermost one pushed is this level's
    }
}

class ConfiguredJobTest : public ScanJobTestEnv {
protected:
    void SetUp() override
    {
        ScanJobTestEnv::SetUp();
        m_callback = std::make_shared<CUnixScanJobCallback>();
        m_job.SetScanJobCallback(m_callback);
        ASSERT_TRUE(m_job.ProcessCommandLine(JobArgs({"-pcs", "0"})).IsSuccess());
    }

    CBagPtr Bag()
    {
        std::shared_ptr<CScannerOptions> options;
        EXPECT_TRUE(m_callback->GetScannerOptionsInstance(options).IsSuccess());
        return options->GetConfigurationBag();
    }

    CScanJobFileSystem m_job;
    std::shared_ptr<CUnixScanJobCallback> m_callback;
};

TEST_F(ConfiguredJobTest, ConfigureFillsFoldersBagAndObjectsOrFails)
{
    ASSERT_TRUE(m_job.Configure().IsSuccess());
    const std::string subclientFolder = m_instance + "/JobResults/2/5";
    const std::string jobFolder = m_instance + "/JobResults/jobs/7";
    // The folders themselves are checked through the binary; here, what the later steps read.
    CBagPtr bag = Bag();
    EXPECT_EQ(bag->Get<unsigned int>(Id::idBackupType, 0), 2u);
    EXPECT_EQ(bag->GetString(Id::idSubClientResultFolderPath), subclientFolder);
    EXPECT_EQ(bag->GetString(Id::idJobResultFolderPath), jobFolder);
    EXPECT_TRUE(bag->GetBool(Id::idIsPrevJobValid));
    EXPECT_TRUE(std::dynamic_pointer_cast<CUnixFileNameFactory>(m_job.GetFileNameFactory()));
    EXPECT_TRUE(m_job.GetPostProcessingOptions() && m_callback->GetJobControlClient());

    // Configure fails without a callback, and with one that gives no name factory.
    CScanJob withoutCallback;
    ASSERT_TRUE(withoutCallback.ProcessCommandLine(JobArgs()).IsSuccess());
    EXPECT_TRUE(withoutCallback.Configure().IsError());
    class NamelessCallback : public CUnixScanJobCallback {
    public:
        std::string AsString() const override { return "Nameless"; }
        std::shared_ptr<CFileNameFactory> GetFileNameFactory(unsigned long, const std::string&) override
        {
            return nullptr;
        }
    };
    CScanJob job;
    job.SetScanJobCallback(std::make_shared<NamelessCallback>());
    ASSERT_TRUE(job.ProcessCommandLine(JobArgs()).IsSuccess());
    CKxError result = job.Configure();
    ASSERT_TRUE(result.IsError());
    EXPECT_EQ(result.Code(), 995);
    EXPECT_EQ(result.Message(), "FileNameFactory not provided by Nameless");
}

TEST_F(ConfiguredJobTest, AnalyticsAndMigrationJobsGetTheirOwnResultFolders)
{
    CBagPtr bag = Bag();
    ASSERT_TRUE(bag->Write(Id::idAnalyticsEnabled, true).IsSuccess());
    ASSERT_TRUE(bag->Write("ObjectStoreMigration", true).IsSuccess());
    ASSERT_TRUE(m_job.Configure().IsSuccess());
    const std::string folder = m_instance + "/JobResults/jobs/7/Analytics/7";
    EXPECT_EQ(m_job.GetResultFolderForJob(), folder);
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(Bag()->GetString(Id::idJobResultFolderPath), folder);
}

}  // namespace
