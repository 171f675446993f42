#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <optional>
#include <thread>

#include "Agent/FileSettingsStore.h"
#include "Agent/MemorySettingsStore.h"
#include "Agent/StatsLogWriter.h"
#include "AgentTestEnv.h"
#include "Base/LogWriter.h"

namespace {

class SettingsStoreTest : public AgentTestEnv {};

TEST(SettingsLineTest, SplitsNameFromTheRestOfTheLineAndReadsNumbersWithinRange)
{
    // The line, parsed, its name and value.
    const std::vector<std::tuple<const char*, bool, const char*, const char*>> cases = {
        {"nLogLevel 5", true, "nLogLevel", "5"}, {"sPath\t \t/a b/ c  \r", true, "sPath", "/a b/ c"},
        {"   indented   value", true, "indented", "value"}, {"nameOnly", true, "nameOnly", ""},
        {"nameOnly   \r", true, "nameOnly", ""}, {"", false, "", ""}, {"   \t ", false, "", ""},
        {"\r", false, "", ""}, {"# nLogLevel 5", false, "", ""}, {"   #comment", false, "", ""},
        {"name#notcomment x", true, "name#notcomment", "x"},
    };
    for (const auto& [line, parsed, expectedName, expectedValue] : cases) {
        std::string name, value;
        EXPECT_EQ(CFileSettingsStore::ParseLine(line, name, value), parsed) << line;
        EXPECT_TRUE(!parsed || (name == expectedName && value == expectedValue)) << line << ": " << name << "|" << value;
    }

    // Numbers: decimal and hex within range (nullopt: refused).
    for (const auto& [text, expected] : std::vector<std::pair<const char*, std::optional<uint32_t>>>{
             {"0", 0}, {" 4294967295 ", 4294967295u}, {"0x1F", 31}, {"", {}}, {" ", {}}, {"4294967296", {}},
             {"-1", {}}, {"12abc", {}}, {"0x", {}}, {"1.5", {}}, {"abc", {}}, {"0x1FFFFFFFF", {}}, {"1 2", {}}}) {
        uint32_t u = 7;
        EXPECT_EQ(ZVPlatformInfo::ParseUnsigned32(text, u) ? std::optional(u) : std::nullopt, expected) << text;
    }
    for (const auto& [text, expected] : std::vector<std::pair<const char*, std::optional<int>>>{
             {"-2147483648", INT32_MIN}, {"2147483647", INT32_MAX}, {"0xFFFFFFFF", -1}, {"2147483648", {}},
             {"-2147483649", {}}, {"--1", {}}, {"0x100000000", {}}, {"x", {}}}) {
        int i = 7;
        EXPECT_EQ(ZVPlatformInfo::ParseSigned32(text, i) ? std::optional(i) : std::nullopt, expected) << text;
    }
}

TEST_F(SettingsStoreTest, ReadsSectionFilesTreatsMissingAsNotPresentAndListsClusterClients)
{
    WriteFile(Registry("FileSystemAgent"),
              "# agent settings\n"
              "nLogLevel   3\r\n"
              "sPreserveATime\tY\n"
              "\n"
              "sEmpty\n"
              "nNegative -4\n"
              "nBad twelve\n"
              "nLogLevel 9\n");
    uint32_t number = 42;
    EXPECT_TRUE(ZVPlatformInfo::getNumber("FileSystemAgent", "nLogLevel", number));
    EXPECT_EQ(number, 3u) << "the first of two lines with one name counts";
    std::string text = "untouched";
    EXPECT_TRUE(ZVPlatformInfo::getString("FileSystemAgent", "sPreserveATime", text));
    EXPECT_EQ(text, "Y");
    EXPECT_TRUE(ZVPlatformInfo::getString("FileSystemAgent", "sEmpty", text));
    EXPECT_EQ(text, "");
    int signedValue = 0;
    EXPECT_TRUE(ZVPlatformInfo::getRegInt("FileSystemAgent", "nNegative", signedValue));
    EXPECT_EQ(signedValue, -4);

    number = 42;
    text = "untouched";
    EXPECT_FALSE(ZVPlatformInfo::getNumber("FileSystemAgent", "nlogLevel", number)) << "names are case-sensitive";
    EXPECT_FALSE(ZVPlatformInfo::getNumber("FileSystemAgent", "nMissing", number));
    EXPECT_FALSE(ZVPlatformInfo::getString("NoSuchSection", "sPreserveATime", text));
    EXPECT_FALSE(ZVPlatformInfo::getString("../registry/FileSystemAgent", "nLogLevel", text));
    // A number that does not parse is not present either.
    EXPECT_FALSE(ZVPlatformInfo::getNumber("FileSystemAgent", "nBad", number));
    EXPECT_FALSE(ZVPlatformInfo::getNumber("FileSystemAgent", "nNegative", number));
    EXPECT_FALSE(ZVPlatformInfo::getRegInt("FileSystemAgent", "nBad", signedValue));
    EXPECT_EQ(number, 42u);
    EXPECT_EQ(signedValue, -4);
    EXPECT_EQ(text, "untouched");

    // Cluster group clients are listed by exact name.
    WriteFile(Registry("Machines"), "sClusterGroupClients node1, grp-a\tgrp-b\n");
    for (const auto& [name, listed] : {std::pair{"grp-a", true}, {"grp-b", true}, {"node1", true}, {"grp", false}, {"", false}})
        EXPECT_EQ(ZVPlatformInfo::isClusterGroupClient(name), listed) << name;
}

TEST_F(SettingsStoreTest, SetNumberRefusesWhatWouldCorruptTheSectionAndRewritesOneLine)
{
    // Writes that would corrupt the section are refused before anything is written.
    CFileSettingsStore store(m_instance + "/registry");
    for (const auto& [section, name, value] : std::vector<std::array<const char*, 3>>{
             {"FileSystemAgent", "two words", "1"}, {"FileSystemAgent", "", "1"}, {"FileSystemAgent", "#hidden", "1"},
             {"FileSystemAgent", "sText", "a\nb"}, {"a/b", "sText", "x"}})
        EXPECT_EQ(store.Set(section, name, value).Code(), KxCode::InvalidParameter) << section << " " << name;
    EXPECT_FALSE(std::filesystem::exists(Registry("FileSystemAgent")));

    const std::string before =
        "# pushed by the management side\n"
        "sClusteredFSTypes gpfs  lustre\n"
        "nCLIENTID 0\r\n"
        "\n"
        "   nIndented 4\n"
        "nCLIENTID 99\n";
    WriteFile(Registry("FileSystemAgent"), before);
    EXPECT_TRUE(ZVPlatformInfo::setNumber("FileSystemAgent", "nCLIENTID", 12));
    EXPECT_EQ(ReadFile(Registry("FileSystemAgent")),
              "# pushed by the management side\n"
              "sClusteredFSTypes gpfs  lustre\n"
              "nCLIENTID 12\n"
              "\n"
              "   nIndented 4\n"
              "nCLIENTID 99\n");
    uint32_t number = 0;
    EXPECT_TRUE(ZVPlatformInfo::getNumber("FileSystemAgent", "nCLIENTID", number));
    EXPECT_EQ(number, 12u);

    EXPECT_TRUE(ZVPlatformInfo::setNumber("FileSystemAgent", "nClientBaseVersion", 4294967295u));
    EXPECT_TRUE(ZVPlatformInfo::getNumber("FileSystemAgent", "nClientBaseVersion", number));
    EXPECT_EQ(number, 4294967295u);
    std::vector<std::string> lines = ReadLines(Registry("FileSystemAgent"));
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines.back(), "nClientBaseVersion 4294967295");

    // A section that does not exist yet is created; no temporary file stays behind.
    EXPECT_TRUE(ZVPlatformInfo::setNumber("GlobalParams", "nNew", 1));
    EXPECT_EQ(ReadFile(Registry("GlobalParams")), "nNew 1\n");
    using Entries = std::filesystem::directory_iterator;
    EXPECT_EQ(std::distance(Entries(m_instance + "/registry"), Entries()), 2);
}

TEST_F(SettingsStoreTest, ConcurrentWritersOfOneSectionLoseNoKey)
{
    constexpr int kThreads = 4;
    constexpr int kKeys = 25;
    const auto key = [](int t, int k) { return "n" + std::to_string(t) + "_" + std::to_string(k); };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &key] {
            for (int k = 0; k < kKeys; ++k) {
                uint32_t read = 0;
                EXPECT_TRUE(ZVPlatformInfo::setNumber("FileSystemAgent", key(t, k), static_cast<uint32_t>(k)));
                EXPECT_TRUE(ZVPlatformInfo::getNumber("FileSystemAgent", key(t, k), read));
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(ReadLines(Registry("FileSystemAgent")).size(), static_cast<size_t>(kThreads * kKeys));
    for (int t = 0; t < kThreads; ++t)
        for (int k = 0; k < kKeys; ++k) {
            uint32_t read = 1000;
            EXPECT_TRUE(ZVPlatformInfo::getNumber("FileSystemAgent", key(t, k), read) && read == uint32_t(k))
                << key(t, k) << " read " << read;
        }
}

TEST_F(SettingsStoreTest, InstalledMemoryStoreReplacesFilesUntilRestored)
{
    WriteFile(Registry("FileSystemAgent"), "nLogLevel 3\n");
    auto memory = std::make_shared<CMemorySettingsStore>();
    memory->Put("FileSystemAgent", "nLogLevel", "8");
    memory->Put("FileSystemAgent", "nBad", "eight");
    ZVPlatformInfo::Install(memory);

    uint32_t number = 0;
    EXPECT_TRUE(ZVPlatformInfo::getNumber("FileSystemAgent", "nLogLevel", number));
    EXPECT_EQ(number, 8u);
    EXPECT_FALSE(ZVPlatformInfo::getNumber("FileSystemAgent", "nBad", number));
    EXPECT_TRUE(ZVPlatformInfo::setNumber("FileSystemAgent", "nCLIENTID", 5));
    memory->FailWrites(KxCode::AccessDenied);
    EXPECT_FALSE(ZVPlatformInfo::setNumber("FileSystemAgent", "nCLIENTID", 6));
    EXPECT_TRUE(ZVPlatformInfo::getNumber("FileSystemAgent", "nCLIENTID", number));
    EXPECT_EQ(number, 5u) << "a failed write changes nothing";
    EXPECT_EQ(ReadFile(Registry("FileSystemAgent")), "nLogLevel 3\n");

    ZVPlatformInfo::RestoreFileBacked();
    EXPECT_TRUE(ZVPlatformInfo::getNumber("FileSystemAgent", "nLogLevel", number));
    EXPECT_EQ(number, 3u);
}

TEST_F(SettingsStoreTest, FocusNeedsAnExistingInstanceFolderAndWithoutItNothingIsPresent)
{
    WriteFile(Registry("FileSystemAgent"), "nLogLevel 3\n");
    ZVPI_Focus::clearFocus();
    uint32_t number = 0;
    EXPECT_FALSE(ZVPlatformInfo::getNumber("FileSystemAgent", "nLogLevel", number));
    EXPECT_FALSE(ZVPlatformInfo::setNumber("FileSystemAgent", "nLogLevel", 4));
    ASSERT_TRUE(ZVPI_Focus::setFocus("inst").IsSuccess());
    EXPECT_TRUE(ZVPlatformInfo::getNumber("FileSystemAgent", "nLogLevel", number));
    EXPECT_EQ(number, 3u);

    CKxError missing = ZVPI_Focus::setFocus("other");
    ASSERT_TRUE(missing.IsError());
    EXPECT_NE(missing.AsString().find(m_root + "/other"), std::string::npos) << missing.AsString();
    EXPECT_EQ(ZVPI_Focus::getFocus(), "inst") << "a failed focus keeps the previous one";
    for (const char* bad : {"", "a/b", "..", "."})
        EXPECT_EQ(ZVPI_Focus::setFocus(bad).Code(), KxCode::InvalidParameter) << bad;

    for (const char* sub : {"JobManager", "Log_Files", "tmp", "run"})
        EXPECT_TRUE(std::filesystem::is_directory(m_instance + "/" + sub)) << sub;
    EXPECT_EQ(CInstancePaths::InstanceFolder(), m_instance);

    ::setenv("FSWEEP_ROOT", "", 1);
    EXPECT_EQ(CInstancePaths::Root(), "/var/opt/fsweep");
    ::setenv("FSWEEP_ROOT", (m_root + "//").c_str(), 1);
    EXPECT_EQ(CInstancePaths::InstanceFolder(), m_instance);
}

TEST_F(SettingsStoreTest, LogsOpenInTheInstanceAndTheStatisticsLogOnlyOnItsOwnPlainFile)
{
    WriteFile(Registry("FileSystemAgent"), "nLogLevel 4\n");
    ASSERT_TRUE(ZVPI_Focus::openLog().IsSuccess());
    EXPECT_EQ(CLogWriter::Instance().Level(), 4);
    EXPECT_EQ(CLogWriter::Instance().Path(), m_instance + "/Log_Files/fsweep.log");
    FSLOG(4, "detail line %d", 1);
    FSLOG(5, "hidden line");
    CLogWriter::Instance().Close();
    std::string log = ReadFile(m_instance + "/Log_Files/fsweep.log");
    EXPECT_NE(log.find("detail line 1"), std::string::npos);
    EXPECT_EQ(log.find("hidden line"), std::string::npos);

    // A malformed level is reported in the log it was meant for, never on standard error.
    WriteFile(Registry("FileSystemAgent"), "nLogLevel four\n");
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(ZVPI_Focus::openLog().IsSuccess());
    EXPECT_EQ(CLogWriter::Instance().Level(), 0);
    CLogWriter::Instance().Close();
    FSLOG_ERROR("plain\nproblem");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "test_agent: plain problem\n");
    EXPECT_NE(ReadFile(m_instance + "/Log_Files/fsweep.log").find("nLogLevel"), std::string::npos);

    // The statistics log appends to a plain file of its own only.
    const std::string folder = m_instance + "/Log_Files";
    ::mkdir(folder.c_str(), 0700);
    CStatsLogWriter good("Stats", 7, "Scan");
    ASSERT_TRUE(good.Open().IsSuccess());
    good.Log("one line");
    EXPECT_NE(ReadFile(good.Path()).find(" 7 Scan one line\n"), std::string::npos);

    // What another program put in the log's place is refused at once, never waited on or followed.
    ASSERT_EQ(::mkfifo((folder + "/Fifo.log").c_str(), 0600), 0);
    ASSERT_EQ(::symlink(good.Path().c_str(), (folder + "/Link.log").c_str()), 0);
    for (const char* name : {"Fifo", "Link"}) {
        CStatsLogWriter bad(name, 7, "Scan");
        EXPECT_FALSE(bad.Open().IsSuccess()) << name;
    }
}

}  // namespace
