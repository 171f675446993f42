#pragma once
// A scratch instance for the driver, factory and life-cycle tests: AgentTestEnv's instance
// with one application "2:5" of type 29 using index version 2, agent settings held in memory,
// and helpers to build command lines and read the job-manager journal.
#include "Agent/AgentTestEnv.h"
#include "Agent/CommandLineArguments.h"
#include "Agent/MemorySettingsStore.h"
#include "Agent/ZVPlatformInfo.h"
#include "Base/FileNameEscaping.h"
#include "Engine/FindFirstItem.h"
#include "Scan/ScanJobCallback.h"
#include "Scan/ScannerOptions.h"

#include <nlohmann/json.hpp>

#include <any>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

class ScanJobTestEnv : public AgentTestEnv {
protected:
    void SetUp() override
    {
        AgentTestEnv::SetUp();
        m_settings = std::make_shared<CMemorySettingsStore>();
        ZVPlatformInfo::Install(m_settings);
        WriteApp("2:5", 29);
    }

    // An application of `appType`: a non-default subclient holding /data with one stream, in the
    // default backup set.
    static nlohmann::json App(int appType, bool indexV2 = true)
    {
        return {{"appType", appType},
                {"indexV2", indexV2},
                {"client", {{"id", 2}, {"name", "client1"}, {"laptop", false}}},
                {"backupSet", {{"name", "defaultBackupSet"}, {"default", true}}},
                {"subclient",
                 {{"id", 5}, {"name", "sc1"}, {"default", false}, {"content", {"/data"}}, {"numStreams", 1}}}};
    }
    // Writes application 2:5 of type 29 with `subclient` members, in the default backup set
    // unless told otherwise.
    void WriteSubclient(const nlohmann::json& subclient, bool defaultBackupSet = true)
    {
        nlohmann::json app = App(29);
        if (subclient.is_object())  // "{}" reads as null
            app["subclient"].update(subclient);
        app["backupSet"]["default"] = defaultBackupSet;
        WriteFile(AppConfigPath("2:5"), app.dump());
    }
    // An item as the walk reads it from the file system.
    static CItemPtr Found(const std::string& path)
    {
        struct stat status {};
        EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
        return std::make_shared<CFindFirstItem>(path, path, status);
    }
    // The decoded item lines of the collect files in `folder` whose names start with `family`
    // (deleted-items lists and the job's own results-folder files left out), each with how often
    // it is listed; folders keep their '/'.
    static std::map<std::string, int> ListedIn(const std::string& folder, const std::string& family = "CollectTot")
    {
        std::map<std::string, int> listed;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind(family, 0) != 0 || name.find("DeletedItems") != std::string::npos)
                continue;
            for (std::string line : ReadLines(entry.path().string())) {
                if (line.starts_with("%SCFILES%"))
                    continue;
                if (const size_t bar = line.rfind('|'); bar != std::string::npos)
                    line.resize(bar);
                std::string path;
                EXPECT_TRUE(unescapeFileName(line, path).IsSuccess()) << line;
                ++listed[path];
            }
        }
        return listed;
    }
    // Writes config/apps/<appId>.json; `subclientExtra` and `clientExtra` are further JSON members.
    void WriteApp(const std::string& appId, int appType, bool indexV2 = true, const std::string& subclientExtra = "",
                  const std::string& clientExtra = "", const std::string& backupSetKind = "")
    {
        nlohmann::json app = App(appType, indexV2);
        app["subclient"].update(nlohmann::json::parse("{" + subclientExtra + "}"));
        app["client"].update(nlohmann::json::parse("{" + clientExtra + "}"));
        if (!backupSetKind.empty())
            app["backupSet"]["kind"] = backupSetKind;
        WriteFile(AppConfigPath(appId), app.dump());
    }

    void Setting(const std::string& key, const std::string& value) { m_settings->Put("FileSystemAgent", key, value); }
    // The configuration bag of `callback`'s scanner options, made on first use.
    static CBagPtr BagOf(CScanJobCallback& callback)
    {
        std::shared_ptr<CScannerOptions> options;
        EXPECT_TRUE(callback.GetScannerOptionsInstance(options).IsSuccess());
        return options->GetConfigurationBag();
    }
    // Gives `path` itself (not a link's target) the access and write time `when`.
    static void SetTimes(const std::string& path, std::time_t when)
    {
        struct timeval times[2] = {{when, 0}, {when, 0}};
        ASSERT_EQ(::lutimes(path.c_str(), times), 0) << path;
    }
    // Every item below `folder`, and the folder, gets `when`.
    static void AgeTree(const std::string& folder, std::time_t when)
    {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
            SetTimes(entry.path().string(), when);
        SetTimes(folder, when);
    }
    // Writes each key with its value's own type, as the job's option loading does.
    static void WriteAll(CBag& bag, std::initializer_list<std::pair<const char*, std::any>> values)
    {
        for (const auto& [key, value] : values)
            ASSERT_TRUE(bag.WriteAny(key, value).IsSuccess()) << key;
    }

    // Runs `body` in a forked child and returns its exit status (-1 when it did not exit). The
    // child's id changes never reach this process.
    static int InChild(const std::function<int()>& body)
    {
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(body());
        int status = 0;
        if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
            return -1;
        return WEXITSTATUS(status);
    }

    // Runs body(0) .. body(count - 1) on threads of their own, all at once, and waits for them.
    static void OnThreads(int count, const std::function<void(int)>& body)
    {
        std::vector<std::thread> threads;
        for (int t = 0; t < count; ++t)
            threads.emplace_back(body, t);
        for (std::thread& thread : threads)
            thread.join();
    }

    static CCommandLineArgumentsPtr Args(const std::vector<std::string>& tokens)
    {
        return std::make_shared<CCommandLineArguments>(tokens);
    }

    // The full command line of job `jobId` on application 2:5, with `extra` options after it.
    static CCommandLineArgumentsPtr JobArgs(const std::vector<std::string>& extra = {}, const std::string& jobId = "7")
    {
        std::vector<std::string> tokens = {"-vm", "inst", "-j", jobId, "-a", "2:5", "-cn", "client1", "-jt", "tok",
                                           "-t", "2"};
        tokens.insert(tokens.end(), extra.begin(), extra.end());
        return Args(tokens);
    }

    // The records of one call ("": every call) made for job `jobId`, in order.
    std::vector<nlohmann::json> Calls(const std::string& call, long long jobId = 7) const
    {
        std::vector<nlohmann::json> calls;
        for (const std::string& line : ReadLines(m_instance + "/JobManager/" + std::to_string(jobId) + ".jsonl"))
            if (nlohmann::json record = nlohmann::json::parse(line); call.empty() || record.value("call", "") == call)
                calls.push_back(record);
        return calls;
    }

    // The events with `id` raised for job `jobId`, in order.
    std::vector<nlohmann::json> Events(std::uint32_t id, long long jobId = 7) const
    {
        std::vector<nlohmann::json> events;
        for (const nlohmann::json& event : Calls("event", jobId))
            if (event.value("id", 0u) == id)
                events.push_back(event);
        return events;
    }

    std::shared_ptr<CMemorySettingsStore> m_settings;
};
