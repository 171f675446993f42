#pragma once
// Shared by the directory-change index tests: a record that is its own stored text (so that a
// test sees exactly what went through the file), its formatter and parser, an index factory and
// a comparison callback that writes down every call.
#include "CollectFile/DirChangeItemBaseFormatter.h"
#include "CollectFile/DirChangeItemBaseParser.h"
#include "CollectFile/PathCacheFlatFileIndex.h"
#include "CollectFile/PathCacheFlatFileIndexCompareCallback.h"

#include <memory>
#include <string>
#include <vector>

namespace dctest {

struct STextRecord : FVBase {
    explicit STextRecord(std::string t) : text(std::move(t)) {}
    std::string text;  // "" or "|f1|f2..."
};

inline FVBasePtr Rec(const std::string& text) { return std::make_shared<STextRecord>(text); }

inline std::string TextOf(const FVBasePtr& record)
{
    if (!record)
        return "<null>";
    auto text = std::dynamic_pointer_cast<STextRecord>(record);
    return text ? text->text : "<base>";
}

class CTextFormatter : public CDirChangeItemBaseFormatter {
public:
    std::string GetFormattedData(const FVBasePtr& record) const override
    {
        auto text = std::dynamic_pointer_cast<STextRecord>(record);
        return text ? text->text : std::string();
    }
};

class CTextParser : public CDirChangeItemBaseParser {
public:
    CKxError GetItemInfo(FVBasePtr& record, const std::vector<std::string>& fields) const override
    {
        std::string text;
        for (const std::string& field : fields)
            text += "|" + field;
        record = std::make_shared<STextRecord>(text);
        return CKxError::Success();
    }
};

// An index writing `current` (and reading `previous` when not empty), with text records.
inline std::shared_ptr<CPathCacheFlatFileIndex> MakeIndex(const std::string& current, const std::string& previous = {})
{
    auto index = std::make_shared<CPathCacheFlatFileIndex>();
    index->SetItemInfoFormatter(std::make_shared<CTextFormatter>());
    index->SetCurrentBackingFileParser(std::make_shared<CTextParser>());
    index->SetPreviousBackingFileParser(std::make_shared<CTextParser>());
    EXPECT_TRUE(index->SetCurrentBackingFile(current, nullptr).IsSuccess()) << current;
    if (!previous.empty()) {
        CKxError loaded = index->SetPreviousBackingFile(previous, nullptr);
        EXPECT_TRUE(loaded.IsSuccess()) << loaded.AsString();
    }
    return index;
}

// Writes every call as one line: "del F /a/b |x", "new D /a |y", "both F /a/c |old |new",
// "recurse? /a" (and the answer given).
class CRecordingCallback : public CPathCacheFlatFileIndexCompareCallback {
public:
    CKxError OnInIndex1(const std::string& path, bool isFile, const FVBasePtr& first) override
    {
        entries.push_back({'1', isFile, path, TextOf(first), {}});
        return Note("del " + Kind(isFile) + path + " " + TextOf(first));
    }
    CKxError OnInIndex2(const std::string& path, bool isFile, const FVBasePtr& second) override
    {
        entries.push_back({'2', isFile, path, {}, TextOf(second)});
        return Note("new " + Kind(isFile) + path + " " + TextOf(second));
    }
    CKxError OnInBothIndexes(const std::string& path, bool isFile, const FVBasePtr& first,
                             const FVBasePtr& second) override
    {
        entries.push_back({'B', isFile, path, TextOf(first), TextOf(second)});
        return Note("both " + Kind(isFile) + path + " " + TextOf(first) + " " + TextOf(second));
    }
    CKxError OnInIndex1RecurseIntoDeletedFolder(const std::string& path, const FVBasePtr& first,
                                                bool& recurse) override
    {
        if (!askRecurse)
            return CPathCacheFlatFileIndexCompareCallback::OnInIndex1RecurseIntoDeletedFolder(path, first, recurse);
        recurse = recurseInto;
        return Note("recurse? " + path);
    }

    struct SEntry {
        char side;  // '1' only first, '2' only second, 'B' both
        bool isFile;
        std::string path;
        std::string first;
        std::string second;
    };
    std::vector<std::string> calls;
    std::vector<SEntry> entries;  // the same calls, without the recurse questions
    bool askRecurse = false;   // false: the default answer (no)
    bool recurseInto = true;   // the answer when asked
    long failAtCall = -1;      // 0-based call that returns error 5

private:
    static std::string Kind(bool isFile) { return isFile ? "F " : "D "; }
    CKxError Note(std::string call)
    {
        calls.push_back(std::move(call));
        if (static_cast<long>(calls.size()) - 1 == failAtCall)
            return CKxError(5, "refused by the test");
        return CKxError::Success();
    }
};

}  // namespace dctest
