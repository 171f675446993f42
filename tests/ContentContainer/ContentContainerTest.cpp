// The database record: its metadata documents read back through an XML parser, batches with
// parents that arrive late, the comparison of two databases, entries carried forward, the
// previous database as a lookup, and the buffer's batch size.
#include "Base/ScratchFolderTest.h"
#include "ContentContainer/CompareContentContainers.h"
#include "ContentContainer/ContentContainer.h"
#include "ContentContainer/ContentContainerBuffer.h"
#include "ContentContainer/ContentContainerDirChange.h"
#include "ContentContainer/ContentContainerFormatter.h"
#include "Engine/FindFirstItem.h"

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include <map>
#include <thread>

namespace {

using namespace CX;
using Attributes = std::map<std::string, std::string>;

std::string Narrow(const XMLCh* text)
{
    char* narrow = xercesc::XMLString::transcode(text);
    std::string result = narrow;
    xercesc::XMLString::release(&narrow);
    return result;
}

// "Element.Attribute" -> value for every attribute of the document; "error" when it does not parse.
Attributes ParseXml(const std::string& text)
{
    xercesc::XMLPlatformUtils::Initialize();
    Attributes found;
    {
        xercesc::XercesDOMParser parser;
        parser.setDoNamespaces(false);
        xercesc::MemBufInputSource input(reinterpret_cast<const XMLByte*>(text.data()), text.size(), "metadata");
        parser.parse(input);
        xercesc::DOMDocument* document = parser.getDocument();
        if (parser.getErrorCount() != 0 || !document || !document->getDocumentElement())
            return {{"error", text}};
        std::vector<xercesc::DOMElement*> open{document->getDocumentElement()};
        while (!open.empty()) {
            xercesc::DOMElement* element = open.back();
            open.pop_back();
            const std::string name = Narrow(element->getTagName());
            found[name];  // elements without attributes show too
            xercesc::DOMNamedNodeMap* attributes = element->getAttributes();
            for (XMLSize_t i = 0; i < attributes->getLength(); ++i)
                found[name + "." + Narrow(attributes->item(i)->getNodeName())] = Narrow(attributes->item(i)->getNodeValue());
            for (auto* child = element->getFirstElementChild(); child; child = child->getNextElementSibling())
                open.push_back(child);
        }
    }
    xercesc::XMLPlatformUtils::Terminate();
    return found;
}

TEST(ContentContainerFormatterTest, EveryDocumentParsesAndReadsBackItsValues)
{
    const Attributes times = {{"Metadata", ""}, {"Filesystem", ""}, {"Filesystem.CreationTime", "0"},
                              {"Filesystem.ModifiedTime", "-5"}, {"Filesystem.AccessTime", "1700000001"},
                              {"Filesystem.ChangeTime", "9223372036854775807"}};
    auto with = [&](Attributes extra, bool keepTimes = true) {
        Attributes all = keepTimes ? times : Attributes{{"Metadata", ""}, {"Filesystem", ""}};
        all.merge(extra);
        return all;
    };
    std::string folder, file, parent, parentWithId, updatedFile, updatedSelected;
    SItemMetadata item{-5, 1700000001, INT64_MAX, 0, 255, true, false};
    CContentContainerFormatter::CreateMetadata(item, folder);
    item = {-5, 1700000001, INT64_MAX, 4096, 0, false, true};
    CContentContainerFormatter::CreateMetadata(item, file);
    CContentContainerFormatter::CreateParentMetadata(0, parent);
    CContentContainerFormatter::CreateParentMetadata(0xABCDEF0123456789ull, parentWithId);
    item.collect = false;
    CContentContainerFormatter::CreateMetadata(item, updatedFile);
    ASSERT_TRUE(CContentContainerFormatter::UpdateMetadata(updatedFile, CContentContainerFormatter::EMetadataType::Collect)
                    .IsSuccess());
    updatedSelected = file;
    ASSERT_TRUE(CContentContainerFormatter::UpdateMetadata(updatedSelected, CContentContainerFormatter::EMetadataType::Collect)
                    .IsSuccess());
    const Attributes updated = {{"State", ""}, {"State.Collect", "true"}, {"State.Updated", "true"}};
    const std::vector<std::pair<const std::string&, Attributes>> cases = {
        {folder, with({{"Filesystem.FileSize", "0"}, {"Filesystem.Folder", "true"},
                       {"Filesystem.FileId", "0x00000000000000FF"}})},
        {file, with({{"Filesystem.FileSize", "4096"}, {"State", ""}, {"State.Collect", "true"}})},
        {parent, with({{"Filesystem.Folder", "true"}}, false)},
        {parentWithId, with({{"Filesystem.Folder", "true"}, {"Filesystem.FileId", "0xABCDEF0123456789"}}, false)},
        {updatedFile, with([&] { Attributes a = updated; a["Filesystem.FileSize"] = "4096"; return a; }())},
        {updatedSelected, with([&] { Attributes a = updated; a["Filesystem.FileSize"] = "4096"; return a; }())},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(ParseXml(text), expected) << text;
    EXPECT_FALSE(CContentContainerFormatter::HasCollectMark(folder));
    EXPECT_TRUE(CContentContainerFormatter::HasCollectMark(updatedFile));

    std::string foreign = "<Other/>";
    EXPECT_EQ(CContentContainerFormatter::UpdateMetadata(foreign, CContentContainerFormatter::EMetadataType::Collect).Code(),
              KxCode::InvalidData);
    EXPECT_EQ(CContentContainerFormatter::UpdateMetadata(file, static_cast<CContentContainerFormatter::EMetadataType>(3))
                  .Code(),
              KxCode::InvalidParameter);
}

class ContentContainerTest : public ScratchFolderTest {
protected:
    // Writes `entries` ("path/" a folder, else a file) into a new database `name`.
    CContentContainerPtr Make(const std::string& name, const std::vector<std::string>& entries)
    {
        auto container = std::make_shared<CContentContainer>();
        container->SetName(m_dir + "/" + name);
        EXPECT_TRUE(container->OpenExistingOrCreate().IsSuccess());
        CContentBatch batch;
        for (std::string path : entries) {
            const bool folder = path.back() == '/';
            if (folder && path.size() > 1)
                path.pop_back();
            CContentContainerFormatter::CreateMetadata({1, 2, 3, 4, 5, folder, false}, batch.Begin(path, folder));
            batch.Commit();
        }
        CKxError written = container->WriteBatch(batch, 100);
        EXPECT_TRUE(written.IsSuccess()) << written.AsString();
        return container;
    }
    std::string Path(const std::string& name) const { return m_dir + "/" + name; }
};

struct SRecorder : CCompareContentContainersCallback {
    std::vector<std::string> events;
    CKxError OnFolderInIndex1(const std::string& path) override { return Add("deleted folder " + path); }
    CKxError OnFileInIndex1(const std::string& path) override { return Add("deleted file " + path); }
    CKxError OnFolderInIndex2(const std::string& path) override { return Add("new folder " + path); }
    CKxError OnFileInIndex2(const std::string& path, std::string_view metadata) override
    {
        return Add("new file " + path + (CContentContainerFormatter::HasCollectMark(metadata) ? " collected" : ""));
    }
    CKxError Add(std::string event)
    {
        events.push_back(std::move(event));
        return CKxError::Success();
    }
};

TEST_F(ContentContainerTest, LateParentsOddNamesAndNotFound)
{
    const std::string odd = "/r/new\nline|\\ \xff";
    CContentContainerPtr db = Make("a.db", {"/r/late/file", "/r/late/", odd, "/r/", "/"});
    std::int64_t late = 0, root = 0;
    ASSERT_TRUE(db->QueryFolderId("/r/late", late).IsSuccess());
    ASSERT_TRUE(db->QueryFolderId("/", root).IsSuccess());
    EXPECT_NE(late, root);
    std::string metadata;
    ASSERT_TRUE(db->QueryFile(odd, metadata).IsSuccess());
    EXPECT_EQ(ParseXml(metadata).count("Filesystem.Folder"), 0u);
    for (const char* missing : {"/r/lat", "/r/late/file/x", "/nowhere/file"})
        EXPECT_EQ(db->QueryFile(missing, metadata).Code(), KxCode::NotFound) << missing;
    EXPECT_EQ(db->QueryFolderId("/r/late/file", late).Code(), KxCode::NotFound);

    ASSERT_TRUE(CContentContainerFormatter::UpdateMetadata(metadata, CContentContainerFormatter::EMetadataType::Collect)
                    .IsSuccess());
    ASSERT_TRUE(db->UpdateFileMetadata(odd, metadata).IsSuccess());
    EXPECT_EQ(db->UpdateFileMetadata("/r/late/none", metadata).Code(), KxCode::NotFound);
    ASSERT_TRUE(db->Close().IsSuccess());

    CContentContainerDirChange previous;
    ASSERT_TRUE(previous.Open(Path("a.db")).IsSuccess());
    // The folder arrived after its file: its own document replaced the parent document.
    EXPECT_TRUE(previous.Lookup("/r/late", IDirChange::eFolder));
    EXPECT_TRUE(previous.Lookup(odd, IDirChange::eFile));
    EXPECT_FALSE(previous.Lookup(odd, IDirChange::eFolder));
    CContentContainerDirChange missing, cut;
    EXPECT_EQ(missing.Open(Path("none.db")).Code(), KxCode::NotFound);
    EXPECT_FALSE(missing.Lookup("/r/late", IDirChange::eFolder));
    ASSERT_EQ(::truncate(Path("a.db").c_str(), 4096), 0);
    EXPECT_EQ(cut.Open(Path("a.db")).Code(), KxCode::InvalidData);
}

TEST_F(ContentContainerTest, ComparisonReportsEachDeletedFolderOnceEveryNewFileAndNoCarriedEntry)
{
    // "/r/gone sub" sorts between "/r/gone" and "/r/gone/..." and is not below "/r/gone".
    ASSERT_TRUE(Make("prev.db", {"/r/", "/r/a/", "/r/a/x", "/r/a/del", "/r/gone/", "/r/gone/g", "/r/gone sub/",
                                 "/r/gone/sub/", "/r/gone/sub/y", "/r/f1"})->Close().IsSuccess());
    CContentContainerPtr current =
        Make("cur.db", {"/r/", "/r/a/", "/r/a/x", "/r/a/add", "/r/gone sub/", "/r/new/", "/r/new/n1", "/r/f1"});
    SRecorder recorder;
    ASSERT_TRUE(CCompareContentContainers(Path("prev.db"), *current, recorder).CompareDatabases().IsSuccess());
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"new file /r/a/add", "deleted file /r/a/del",
                                                         "deleted folder /r/gone", "new folder /r/new",
                                                         "new file /r/new/n1"}));
    SRecorder none;
    EXPECT_EQ(CCompareContentContainers(Path("missing.db"), *current, none).CompareDatabases().Code(), KxCode::NotFound);

    // Carried entries are not deleted, and not known to the next job.
    ASSERT_TRUE(Make("prev2.db", {"/r/", "/r/bad/", "/r/bad/x", "/r/bad/in/", "/r/bad/in/y", "/r/bad0/", "/r/lost",
                                  "/r/kept"})->Close().IsSuccess());
    CContentContainerPtr carrying = Make("cur2.db", {"/r/", "/r/bad/", "/r/kept"});
    ASSERT_TRUE(carrying->CarryForward(Path("prev2.db"), "/r/bad").IsSuccess());
    ASSERT_TRUE(carrying->CarryForward(Path("prev2.db"), "/r/lost").IsSuccess());
    SRecorder carried;
    ASSERT_TRUE(CCompareContentContainers(Path("prev2.db"), *carrying, carried).CompareDatabases().IsSuccess());
    EXPECT_EQ(carried.events, std::vector<std::string>{"deleted folder /r/bad0"});
    ASSERT_TRUE(carrying->Close().IsSuccess());

    CContentContainerDirChange next;
    ASSERT_TRUE(next.Open(Path("cur2.db")).IsSuccess());
    const std::vector<std::tuple<const char*, IDirChange::EKind, bool>> lookups = {
        {"/r/bad", IDirChange::eFolder, true}, {"/r/bad/in", IDirChange::eFolder, false}, {"/r/bad/x", IDirChange::eFile, false},
        {"/r/kept", IDirChange::eFile, true}, {"/r/lost", IDirChange::eFile, false}, {"/r/bad/in/y", IDirChange::eFile, false}};
    // Two threads at once, each through its own folder cache.
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&] {
            for (int round = 0; round < 200; ++round)
                for (const auto& [path, kind, known] : lookups)
                    if (next.Lookup(path, kind) != known)
                        ++wrong;
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(ContentContainerTest, TheBufferWritesEveryTenThousandItemsAndOnFlush)
{
    CContentContainerPtr container = Make("buffer.db", {});
    CContentContainerBuffer buffer(container);
    struct stat status {};
    status.st_mode = S_IFREG | 0644;
    status.st_ino = 255;
    auto process = [&](int n) {
        const std::string path = "/d/f" + std::to_string(n);
        auto item = std::make_shared<CFindFirstItem>(path, path, status);
        item->SetSelected(n == 0);
        return buffer.Process(item);
    };
    std::string metadata;
    for (size_t n = 0; n + 1 < CContentContainerBuffer::kFlushThreshold; ++n)
        ASSERT_TRUE(process(static_cast<int>(n)).IsSuccess());
    EXPECT_EQ(container->QueryFile("/d/f0", metadata).Code(), KxCode::NotFound);
    // The 10,000th hands the batch to the writer thread; the next one starts a new batch.
    ASSERT_TRUE(process(9999).IsSuccess());
    ASSERT_TRUE(process(10000).IsSuccess());
    ASSERT_TRUE(buffer.Close().IsSuccess());
    ASSERT_TRUE(container->QueryFile("/d/f0", metadata).IsSuccess());
    EXPECT_EQ(ParseXml(metadata)["State.Collect"], "true");
    EXPECT_EQ(ParseXml(metadata)["Filesystem.FileId"], "0x00000000000000FF");
    ASSERT_TRUE(container->QueryFile("/d/f10000", metadata).IsSuccess());
    EXPECT_EQ(ParseXml(metadata).count("State"), 0u);
}

}  // namespace
