#pragma once
// A scratch agent instance for tests: FSWEEP_ROOT points at a fresh temporary folder holding
// one instance ("inst") with its registry/ and config/apps/ folders, and the process is
// focused on it. Everything process-wide that the agent keeps is reset on tear-down.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Agent/EvEvent.h"
#include "Agent/InstancePaths.h"
#include "Agent/JobManagerFaults.h"
#include "Agent/XJob.h"
#include "Agent/ZVPI_Focus.h"
#include "Agent/ZVPlatformInfo.h"

class AgentTestEnv : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "fsweep-agent-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_root = pattern;
        ::setenv("FSWEEP_ROOT", m_root.c_str(), 1);
        ::unsetenv("FSWEEP_JM_FAIL");
        m_instance = m_root + "/inst";
        std::filesystem::create_directories(m_instance + "/registry");
        std::filesystem::create_directories(m_instance + "/config/apps");
        ASSERT_TRUE(ZVPI_Focus::setFocus("inst").IsSuccess());
        ZVPlatformInfo::RestoreFileBacked();
        CJobManagerFaults::Clear();
        EvEvent::CreateProcessContext("test");
    }

    void TearDown() override
    {
        ZVPI_Focus::clearFocus();
        ZVPlatformInfo::RestoreFileBacked();
        CJobManagerFaults::Clear();
        EvEvent::CreateProcessContext("");
        CXJob::SetFocusClientName("");
        ::unsetenv("FSWEEP_JM_FAIL");
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
        ::unsetenv("FSWEEP_ROOT");
    }

    static void WriteFile(const std::string& path, const std::string& content)
    {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << content;
    }

    static std::string ReadFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }

    static std::vector<std::string> ReadLines(const std::string& path)
    {
        std::vector<std::string> lines;
        std::ifstream in(path, std::ios::binary);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    std::string Registry(const std::string& section) const { return m_instance + "/registry/" + section; }
    std::string AppConfigPath(const std::string& appId) const { return m_instance + "/config/apps/" + appId + ".json"; }

    std::string m_root;
    std::string m_instance;
};
