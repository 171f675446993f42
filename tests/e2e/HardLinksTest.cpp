// Hard links through the real binaries: the names of one file leave the ordinary collect files
// for a hard-link collect file of their own, grouped so that the backup reads the data once, and
// spread over the streams by data when the job has several.
#include "ScanJobFixture.h"

#include "CollectFile/HCollectFile.h"

#include <regex>

namespace {

using namespace e2e;

class HardLinksTest : public ScanJobFixture {
protected:
    void SetUp() override
    {
        ScanJobFixture::SetUp();
        Settings("HLINK Y\n");
    }

    // Every hard-link line of the collect files of `prefix` ("CollectTot", "CollectInc"), by file.
    std::map<std::string, std::vector<HLinkGroupElement>> HardLinkLines(const std::string& prefix) const
    {
        std::map<std::string, std::vector<HLinkGroupElement>> lines;
        for (const std::string& file : ResultFiles(prefix)) {
            const std::string name = fs::path(file).filename().string();
            if (!name.ends_with(".zvf"))
                continue;
            for (const std::string& line : Lines(file)) {
                if (!HCollectFile::IsHardLinkLine(line) || line == HCollectFile::kHeader)
                    continue;
                HLinkGroupElement element;
                EXPECT_TRUE(HCollectFile::ParseLine(line, element).IsSuccess()) << name << ": " << line;
                lines[name].push_back(element);
            }
        }
        return lines;
    }
    bool AnyFile(const std::string& pattern) const
    {
        for (const auto& entry : fs::directory_iterator(Results()))
            if (std::regex_match(entry.path().filename().string(), std::regex(pattern)))
                return true;
        return false;
    }

};

// One file with three names (one holding a newline, one a '|', one invalid UTF-8) and a plain
// file; then an incremental with nothing changed, and one after a fourth name was added.
TEST_F(HardLinksTest, NamesOfOneFileTravelAsOneGroup)
{
    const std::vector<std::string> names = {m_data + "/a/f\n1", m_data + "/b/f|2", m_data + "/c/f\xff" "3"};
    for (const char* folder : {"/a", "/b", "/c", "/d"})
        fs::create_directories(m_data + folder);
    WriteText(names[0], std::string(5000, 'x'));
    fs::create_hard_link(names[0], names[1]);
    fs::create_hard_link(names[0], names[2]);
    WriteText(m_data + "/g", "plain");
    Content({m_data});

    Scanned(1, 1);
    EXPECT_NE(PhaseParams(1).find(" -hlon "), std::string::npos) << PhaseParams(1);
    // The ordinary collect file lists the folders and g, none of the names.
    std::map<std::string, int> ordinary = Listed({Results() + "/CollectTot1.zvf"});
    EXPECT_EQ(ordinary.count(m_data + "/g"), 1u);
    for (const std::string& name : names)
        EXPECT_EQ(ordinary.count(name), 0u) << name;
    const auto groups = HardLinkLines("CollectTot");
    ASSERT_EQ(groups.size(), 1u);
    const std::vector<HLinkGroupElement>& group = groups.begin()->second;
    ASSERT_EQ(group.size(), 3u);
    std::set<std::string> grouped;
    for (const HLinkGroupElement& element : group) {
        grouped.insert(element.path);
        EXPECT_EQ(element.inode, group[0].inode);
        EXPECT_EQ(element.size, 5000u);
    }
    EXPECT_EQ(grouped, std::set<std::string>(names.begin(), names.end()));
    EXPECT_EQ(Read(Results() + "/split_config.orig"), "1\n");
    EXPECT_EQ(Read(Results() + "/split_config"), groups.begin()->first.substr(10, 1) + ",1\n");
    EXPECT_FALSE(AnyFile("HCollect.*\\.(zvf|tmp)"));
    const std::string out = BackedUp(1, 1);
    EXPECT_NE(out.find("hard-linked names: 3 of 1 files"), std::string::npos) << out;
    EXPECT_NE(out.find("bytes: 5005"), std::string::npos) << out;

    Scanned(2, 2);
    EXPECT_TRUE(HardLinkLines("CollectInc").empty());
    EXPECT_FALSE(AnyFile("HCollectInc.*|Merged_split_config"));
    BackedUp(2, 2);

    fs::create_hard_link(names[0], m_data + "/d/f4");
    Scanned(3, 2);
    const auto added = HardLinkLines("CollectInc");
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added.begin()->second.size(), 4u);
    EXPECT_NE(BackedUp(3, 2).find("hard-linked names: 4 of 1 files"), std::string::npos);
}

// 2,000 files of different sizes with five names each, four streams reading one disk: every
// name is listed once, no file's names are split, and the streams carry about the same data.
TEST_F(HardLinksTest, GroupsSpreadOverStreamsByData)
{
    constexpr int kFiles = 2000;
    constexpr int kNames = 5;
    for (int n = 0; n < kNames; ++n)
        fs::create_directories(m_data + "/n" + std::to_string(n));
    for (int f = 0; f < kFiles; ++f) {
        const std::string first = m_data + "/n0/f" + std::to_string(f);
        WriteText(first, std::string(static_cast<size_t>(1 + (f * 7919) % 4096), 'd'));
        for (int n = 1; n < kNames; ++n)
            fs::create_hard_link(first, m_data + "/n" + std::to_string(n) + "/f" + std::to_string(f));
    }
    Content({m_data}, "\"numStreams\": 4, \"multipleReadsPerDisk\": true");
    Scanned(1, 1);

    std::map<std::pair<std::uint64_t, std::uint64_t>, std::set<std::string>> holders;
    std::map<std::string, int> seen;
    for (const auto& [file, elements] : HardLinkLines("CollectTot"))
        for (const HLinkGroupElement& element : elements) {
            holders[{element.device, element.inode}].insert(file);
            ++seen[element.path];
        }
    EXPECT_EQ(holders.size(), static_cast<size_t>(kFiles));
    EXPECT_EQ(seen.size(), static_cast<size_t>(kFiles * kNames));
    for (const auto& [path, count] : seen)
        EXPECT_EQ(count, 1) << path;
    for (const auto& [key, files] : holders)
        EXPECT_EQ(files.size(), 1u) << "inode " << key.second;
    for (const auto& [path, count] : Listed({Results() + "/CollectTot1.zvf"}))
        EXPECT_TRUE(path.ends_with("/")) << path << " is a file in the ordinary collect file";

    const std::string out = BackedUp(1, 1);
    std::vector<double> bytes;
    const std::regex stream("stream [0-9]+: items [0-9]+, bytes ([0-9]+)");
    for (std::sregex_iterator it(out.begin(), out.end(), stream), end; it != end; ++it)
        bytes.push_back(std::stod((*it)[1].str()));
    ASSERT_EQ(bytes.size(), 4u) << out;
    const auto [low, high] = std::minmax_element(bytes.begin(), bytes.end());
    EXPECT_LE(*high, *low * 1.2) << out;
}

}  // namespace
