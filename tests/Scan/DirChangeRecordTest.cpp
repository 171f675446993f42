// Directory-change records: the text the formatters write, what the parsers read back from
// texts written by this and the other record version, and tags in odd case, order and values.
#include "Scan/Dirchange/DirChangeItemFormatter.h"
#include "Scan/Dirchange/DirChangeItemFormatterV2.h"
#include "Scan/Dirchange/DirChangeItemInfoImpl.h"
#include "Scan/Dirchange/DirChangeItemInfoV2Impl.h"
#include "Scan/Dirchange/DirChangeItemParser.h"
#include "Scan/Dirchange/DirChangeItemParserV2.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

namespace {

// The fields as the index hands them to a parser: the text split at '|', the empty piece
// before the first '|' dropped.
std::vector<std::string> Fields(const std::string& text)
{
    std::vector<std::string> fields;
    size_t start = text.starts_with("|") ? 1 : 0;
    while (start <= text.size()) {
        const size_t bar = text.find('|', start);
        fields.push_back(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    return fields;
}

template <typename Parser, typename Info>
std::shared_ptr<Info> Parse(const std::string& text)
{
    FVBasePtr record;
    EXPECT_TRUE(Parser().GetItemInfo(record, Fields(text)).IsSuccess());
    auto info = std::dynamic_pointer_cast<Info>(record);
    EXPECT_TRUE(info);
    return info;
}
const auto ParseV1 = Parse<CDirChangeItemParser, CDirChangeItemInfo>;
const auto ParseV2 = Parse<CDirChangeItemParserV2, CDirChangeItemInfoV2>;

const auto kFreq2 = static_cast<eDirChangeItemBackupFrequency>(2);

TEST(DirChangeRecordTest, FormattersWriteWhatTheParsersReadInAnyCaseOrderAndVersion)
{
    CDirChangeItemFormatter v1;
    CDirChangeItemFormatterV2 v2;
    auto plain = std::make_shared<CDirChangeItemInfoImpl>();
    auto full = std::make_shared<CDirChangeItemInfoImpl>(true, 3, kFreq2, true);
    EXPECT_EQ(v1.GetFormattedData(plain), "|<IS>0|<CI>0");
    EXPECT_EQ(v1.GetFormattedData(full), "|<IS>1|<CI>3|<BFQ>2|<ACL>1");
    EXPECT_EQ(v1.GetFormattedData(std::make_shared<CDirChangeItemInfoImpl>(false, 12, eDirChangeItemBackupFrequencyNone, true)),
              "|<IS>0|<CI>12|<ACL>1");

    // The version 2 time comes first and is written even when clear; the version 1 formatter
    // leaves it out; a version 1 record through the version 2 formatter has no time.
    auto timed = std::make_shared<CDirChangeItemInfoV2Impl>(CTimeStamp(1700000000), true, 3, kFreq2, true);
    EXPECT_EQ(v2.GetFormattedData(timed), "|<RT>1700000000|<IS>1|<CI>3|<BFQ>2|<ACL>1");
    EXPECT_EQ(v2.GetFormattedData(std::make_shared<CDirChangeItemInfoV2Impl>()), "|<RT>0|<IS>0|<CI>0");
    EXPECT_EQ(v1.GetFormattedData(timed), "|<IS>1|<CI>3|<BFQ>2|<ACL>1");
    EXPECT_EQ(v2.GetFormattedData(full), "|<IS>1|<CI>3|<BFQ>2|<ACL>1");

    // The deleted bit lives only while a job handles the record; four bits of frequency fit.
    auto handled = std::make_shared<CDirChangeItemInfoImpl>(false, 7, static_cast<eDirChangeItemBackupFrequency>(0x13), false);
    handled->SetIsDeleted(true);
    EXPECT_EQ(v1.GetFormattedData(handled), "|<IS>0|<CI>7|<BFQ>3");
    EXPECT_TRUE(handled->GetIsDeleted());

    // Records that are not the scan's get the base text only.
    EXPECT_EQ(v1.GetFormattedData(std::make_shared<CDirChangeItemBaseInfo>()), "");
    EXPECT_EQ(v2.GetFormattedData(nullptr), "");

    // The recording stage writes text from plain values; the next job reads it with the parsers
    // that the formatters' text is made for, so both must agree byte for byte, at every extreme.
    char text[CDirChangeItemFormatter::kMaxFieldsText];
    for (bool selected : {false, true})
        for (int collect : {0, 1, 42, -1, INT_MAX, INT_MIN})
            for (unsigned frequency : {0u, 1u, 15u, 16u, 0x13u, UINT_MAX})
                for (bool acl : {false, true}) {
                    const auto kept = static_cast<eDirChangeItemBackupFrequency>(frequency);
                    const std::string made(text, CDirChangeItemFormatter::FormatFields(selected, collect, frequency,
                                                                                        acl, text));
                    EXPECT_EQ(made, v1.GetFormattedData(
                                        std::make_shared<CDirChangeItemInfoImpl>(selected, collect, kept, acl)))
                        << collect << " " << frequency;
                    for (long long seconds : {0LL, -1LL, 1700000000LL, LLONG_MAX, LLONG_MIN}) {
                        size_t length = CDirChangeItemFormatter::FormatRefTime(seconds, text);
                        length += CDirChangeItemFormatter::FormatFields(selected, collect, frequency, acl, text + length);
                        ASSERT_LE(length, sizeof text);
                        EXPECT_EQ(std::string(text, length),
                                  v2.GetFormattedData(std::make_shared<CDirChangeItemInfoV2Impl>(
                                      CTimeStamp(seconds), selected, collect, kept, acl)))
                            << seconds << " " << collect << " " << frequency;
                    }
                }

    // The parsers read tags in any case and order, and each reads the other version's text.
    auto info = ParseV1("|<acl>1|<bfq>0x1|<ci>42|<is>1");
    EXPECT_TRUE(info->isSelected());
    EXPECT_EQ(info->GetCollectFileId(), 42);
    EXPECT_EQ(info->GetBackupFrequency(), 1u);
    EXPECT_TRUE(info->IsACLOnly());
    EXPECT_FALSE(info->GetIsDeleted());

    // Only the character '1' right after the tag means yes.
    for (const auto& [text, yes] : std::vector<std::pair<const char*, bool>>{
             {"|<IS>2|<CI>1", false}, {"|<IS>|<CI>1", false}, {"|<IS> 1", false}, {"|<IS>10", true}})
        EXPECT_EQ(ParseV1(text)->isSelected(), yes) << text;
    EXPECT_FALSE(ParseV1("|<ACL>0")->IsACLOnly());
    EXPECT_FALSE(ParseV1("|<ACL>")->IsACLOnly());

    // Frequency: automatic base; the record keeps four bits.
    for (const auto& [text, frequency] : std::vector<std::pair<const char*, unsigned>>{
             {"|<BFQ>010", 8}, {"|<BFQ>0xF", 15}, {"|<BFQ>7", 7}, {"|<BFQ>junk", 0}})
        EXPECT_EQ(ParseV1(text)->GetBackupFrequency(), frequency) << text;

    // Missing tags, empty text and unknown fields leave the defaults.
    for (const std::string text : {"", "|", "|<XX>1|IS>1|<I S>1", "|<CI>"}) {
        auto empty = ParseV1(text);
        EXPECT_FALSE(empty->isSelected()) << text;
        EXPECT_EQ(empty->GetCollectFileId(), 0) << text;
        EXPECT_EQ(empty->GetBackupFrequency(), 0u) << text;
        EXPECT_FALSE(empty->IsACLOnly()) << text;
    }
    // A tag written twice: the later one counts.
    EXPECT_EQ(ParseV1("|<CI>3|<CI>9")->GetCollectFileId(), 9);

    // Each parser reads the other version's text.
    const std::string v2Text = CDirChangeItemFormatterV2().GetFormattedData(
        std::make_shared<CDirChangeItemInfoV2Impl>(CTimeStamp(1234567890), true, 3, kFreq2, false));
    auto read1 = ParseV1(v2Text);
    ASSERT_TRUE(read1);
    EXPECT_FALSE(std::dynamic_pointer_cast<CDirChangeItemInfoV2>(read1)) << "a version 1 parser makes version 1 records";
    EXPECT_TRUE(read1->isSelected());
    EXPECT_EQ(read1->GetCollectFileId(), 3);
    EXPECT_EQ(read1->GetBackupFrequency(), 2u);
    // Written again by the version 1 formatter, the time is gone and nothing else changed.
    EXPECT_EQ(CDirChangeItemFormatter().GetFormattedData(read1), "|<IS>1|<CI>3|<BFQ>2");

    auto read2 = ParseV2(v2Text);
    EXPECT_EQ(read2->GetRefTime(), CTimeStamp(1234567890));
    EXPECT_EQ(CDirChangeItemFormatterV2().GetFormattedData(read2), v2Text);
    // Version 1 text read as version 2: the time stays clear.
    EXPECT_EQ(ParseV2("|<IS>1|<CI>2")->GetRefTime(), CTimeStamp());
    EXPECT_EQ(ParseV2("|<rt>0x10|<IS>1")->GetRefTime(), CTimeStamp(16));
}

}  // namespace
