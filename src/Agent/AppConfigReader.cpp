#include "Agent/AppConfigReader.h"

#include <limits>

#include <nlohmann/json.hpp>

#include "Agent/InstancePaths.h"
#include "Base/FXFile.h"
#include "Base/FXPath.h"

using nlohmann::json;

namespace {
// Streams and folder-level threads are each a collect file or a thread: beyond these a value is
// a typing error, not a wish the machine could meet.
constexpr unsigned long long kMaxStreams = 1000;
constexpr unsigned long long kMaxFolderLevelThreads = 256;
// A wrong value is shown in the message up to this length (it may be a whole array).
constexpr size_t kMaxValueShown = 60;

// Reads typed keys of one JSON object; the first type error is kept and later reads are no-ops.
class CObjectReader {
public:
    CObjectReader(const json& object, std::string prefix, const std::string& origin, CKxError& error)
        : m_object(object), m_prefix(std::move(prefix)), m_origin(origin), m_error(error)
    {
    }

    const json* Find(const char* key)
    {
        if (m_error.IsError())
            return nullptr;
        auto it = m_object.find(key);
        if (it == m_object.end() || it->is_null())
            return nullptr;
        return &*it;
    }

    // "<file>: key "subclient.numStreams" is "abc", expected an integer from 1 to 1000": the one
    // line an operator needs to mend the file.
    void Fail(const char* key, const std::string& expected)
    {
        if (m_error.IsError())
            return;
        std::string value =
            m_object.contains(key) ? m_object[key].dump(-1, ' ', false, json::error_handler_t::replace) : "missing";
        if (value.size() > kMaxValueShown)
            value = value.substr(0, kMaxValueShown) + "...";
        m_error = CKxError(KxCode::InvalidData,
                           m_origin + ": key \"" + m_prefix + key + "\" is " + value + ", expected " + expected);
    }

    void Bool(const char* key, bool& out)
    {
        if (const json* v = Find(key)) {
            if (v->is_boolean())
                out = v->get<bool>();
            else
                Fail(key, "true or false");
        }
    }

    // An integer from `low` to `high` (by default the whole range of the field, from 0).
    template <typename T>
    void Unsigned(const char* key, T& out, unsigned long long low = 0,
                  unsigned long long high = std::numeric_limits<T>::max())
    {
        if (const json* v = Find(key)) {
            // A JSON integer is signed when it fits: 0 and small positive numbers arrive as either.
            const bool whole = v->is_number_unsigned() || (v->is_number_integer() && v->get<long long>() >= 0);
            if (whole && v->get<unsigned long long>() >= low && v->get<unsigned long long>() <= high)
                out = static_cast<T>(v->get<unsigned long long>());
            else
                Fail(key, "an integer from " + std::to_string(low) + " to " + std::to_string(high));
        }
    }

    void Signed(const char* key, int& out)
    {
        constexpr long long low = std::numeric_limits<int>::min(), high = std::numeric_limits<int>::max();
        if (const json* v = Find(key)) {
            if (v->is_number_integer() && v->get<long long>() >= low && v->get<long long>() <= high)
                out = static_cast<int>(v->get<long long>());
            else
                Fail(key, "an integer from " + std::to_string(low) + " to " + std::to_string(high));
        }
    }

    void String(const char* key, std::string& out)
    {
        if (const json* v = Find(key)) {
            if (v->is_string())
                out = v->get<std::string>();
            else
                Fail(key, "a string");
        }
    }

    void Strings(const char* key, std::vector<std::string>& out)
    {
        const json* v = Find(key);
        if (!v)
            return;
        if (!v->is_array())
            return Fail(key, "an array of strings");
        std::vector<std::string> values;
        for (const json& item : *v) {
            if (!item.is_string())
                return Fail(key, "an array of strings");
            values.push_back(item.get<std::string>());
        }
        out = std::move(values);
    }

    // The nested object, or null when absent; a non-object is a type error.
    const json* Object(const char* key)
    {
        const json* v = Find(key);
        if (v && !v->is_object()) {
            Fail(key, "an object");
            return nullptr;
        }
        return v;
    }

    std::string Prefix(const char* key) const { return m_prefix + key + "."; }

private:
    const json& m_object;
    std::string m_prefix;
    const std::string& m_origin;
    CKxError& m_error;
};

void ReadSubclient(const json& object, const std::string& origin, CKxError& error, SubclientData& sc)
{
    CObjectReader r(object, "subclient.", origin, error);
    r.Unsigned("id", sc.id);
    r.String("name", sc.name);
    r.Bool("default", sc.isDefault);
    r.Strings("content", sc.content);
    r.Strings("filters", sc.filters);
    r.Strings("filterExceptions", sc.filterExceptions);
    r.Strings("fileNameContent", sc.fileNameContent);
    r.Strings("fileNameFilters", sc.fileNameFilters);
    r.Strings("otherSubclientsContent", sc.otherSubclientsContent);
    r.Unsigned("numStreams", sc.numStreams, 1, kMaxStreams);
    r.Unsigned("folderLevelThreads", sc.folderLevelThreads, 0, kMaxFolderLevelThreads);
    r.Bool("useMtime", sc.useMtime);
    r.Bool("useCtime", sc.useCtime);
    r.Bool("collectAcl", sc.collectAcl);
    r.Bool("changeJournal", sc.changeJournal);
    if (const json* trueUp = r.Object("trueUp")) {
        CObjectReader t(*trueUp, r.Prefix("trueUp"), origin, error);
        t.Bool("enabled", sc.trueUpEnabled);
        t.Unsigned("days", sc.trueUpDays);
        t.Unsigned("jobs", sc.trueUpJobs);
    }
    r.Bool("preserveAccessTimes", sc.preserveAccessTimes);
    r.Unsigned("backupAfterDate", sc.backupAfterDate);
    r.Bool("followSymbolicLinks", sc.followSymbolicLinks);
    r.Bool("appleDouble", sc.appleDouble);
    r.Bool("multipleReadsPerDisk", sc.multipleReadsPerDisk);
    r.Bool("useDataClassification", sc.useDataClassification);
    r.Signed("blockLevelBackup", sc.blockLevelBackup);
    r.Bool("ddbBackup", sc.ddbBackup);
    r.Signed("deleteFilesWithoutBackup", sc.deleteFilesWithoutBackup);
    r.Signed("snapEngine", sc.snapEngine);
    r.Bool("honorArchiverRetention", sc.honorArchiverRetention);
    if (const json* archiving = r.Object("archiving")) {
        SArchivingRules& rules = sc.archiving;
        rules.present = true;
        CObjectReader a(*archiving, r.Prefix("archiving"), origin, error);
        a.Unsigned("accessedDays", rules.accessedDays);
        a.Unsigned("modifiedDays", rules.modifiedDays);
        a.Unsigned("minFileSize", rules.minFileSize);
        a.Unsigned("maxFileSize", rules.maxFileSize);
        a.Strings("extensions", rules.extensions);
        a.Unsigned("highFreePercent", rules.highFreePercent, 0, 100);
        a.Unsigned("lowFreePercent", rules.lowFreePercent, 0, 100);
        a.Bool("skipSmallerFiles", rules.skipSmallerFiles);
        a.Bool("skipLockTest", rules.skipLockTest);
        a.Bool("reportCandidates", rules.reportCandidates);
    }
    r.String("fileShareMountOptions", sc.fileShareMountOptions);
    r.Unsigned("backupNodes", sc.backupNodes);
    if (const json* extent = r.Object("extentBackup")) {
        CObjectReader e(*extent, r.Prefix("extentBackup"), origin, error);
        e.Bool("enabled", sc.extentBackupEnabled);
        e.Bool("aclOnly", sc.extentAclOnly);
        e.Unsigned("fileSizeThreshold", sc.extentFileSizeThreshold);
    }
    if (const json* distributed = r.Object("distributed")) {
        sc.distributed = true;
        CObjectReader d(*distributed, r.Prefix("distributed"), origin, error);
        d.Signed("clusterType", sc.clusterType);
        d.Bool("useGpfsSnapshot", sc.useGpfsSnapshot);
    }
    if (const json* proxy = r.Object("proxy")) {
        CObjectReader p(*proxy, r.Prefix("proxy"), origin, error);
        p.String("host", sc.proxyHost);
        p.String("root", sc.proxyRoot);
        p.Strings("launch", sc.proxyLaunch);
        p.Bool("vtlDisasterRecovery", sc.proxyVtlDisasterRecovery);
        p.Bool("setBackupDate", sc.proxySetBackupDate);
    }
}
}  // namespace

void CAppConfigReader::LineAndColumn(const std::string& text, size_t offset, size_t& line, size_t& column)
{
    line = 1;
    column = 1;
    size_t end = std::min(offset, text.size());
    for (size_t i = 0; i < end; ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
}

CKxError CAppConfigReader::Parse(const std::string& text, const std::string& origin, AppConfig& config)
{
    json document;
    try {
        document = json::parse(text);
    } catch (const json::parse_error& e) {
        // e.byte is the 1-based offset of the character that broke the parse.
        // e.byte counts the characters read when the parser gave up: the end of the
        // offending token.
        size_t line = 0, column = 0;
        LineAndColumn(text, e.byte > 0 ? e.byte - 1 : 0, line, column);
        std::string what = e.what();
        size_t detail = what.find(": ", what.find("column"));
        std::string reason = detail == std::string::npos ? std::string() : ": " + what.substr(detail + 2);
        return CKxError(KxCode::InvalidData, origin + ": JSON syntax error at line " + std::to_string(line) +
                                                 ", column " + std::to_string(column) + reason);
    } catch (const std::exception& e) {
        return CKxError(KxCode::InvalidData, origin + ": cannot be read: " + e.what());
    }
    if (!document.is_object())
        return CKxError(KxCode::InvalidData, origin + ": not a JSON object");

    CKxError error;
    AppConfig loaded;
    CObjectReader top(document, "", origin, error);
    if (!document.contains("appType") || document["appType"].is_null())
        return CKxError(KxCode::InvalidData, origin + ": key \"appType\" is missing, expected an application type");
    top.Unsigned("appType", loaded.appType);
    top.Bool("indexV2", loaded.indexV2);
    if (const json* client = top.Object("client")) {
        auto data = std::make_shared<ClientData>();
        CObjectReader c(*client, "client.", origin, error);
        c.Unsigned("id", data->id);
        c.String("name", data->name);
        c.Bool("laptop", data->laptop);
        c.String("baseVersion", data->baseVersion);
        c.Bool("quillbox", data->quillbox);
        c.Signed("proxyClientId", data->proxyClientId);
        c.String("jobResultsDir", data->jobResultsDir);
        loaded.client = data;
    }
    if (const json* backupSet = top.Object("backupSet")) {
        auto data = std::make_shared<BackupSetData>();
        CObjectReader b(*backupSet, "backupSet.", origin, error);
        b.String("name", data->name);
        b.Bool("default", data->isDefault);
        b.String("kind", data->kind);
        if (error.IsSuccess() && !data->kind.empty() && data->kind != "rejected" && data->kind != "onDemand")
            b.Fail("kind", "\"\", \"rejected\" or \"onDemand\"");
        loaded.backupSet = data;
    }
    if (const json* subclient = top.Object("subclient")) {
        auto data = std::make_shared<SubclientData>();
        ReadSubclient(*subclient, origin, error, *data);
        loaded.subclient = data;
    }
    if (error.IsError())
        return error;
    config = std::move(loaded);
    return CKxError::Success();
}

CKxError CAppConfigReader::LoadFile(const std::string& path, AppConfig& config)
{
    std::string text;
    KX_RETURN_IF_FAILED(FXFile::ReadWholeFile(path, text), "Failed to read application configuration [%s]",
                        path.c_str());
    return Parse(text, path, config);
}

CKxError CAppConfigReader::ForEachConfig(const std::function<bool(const AppConfig&)>& visit)
{
    std::string folder = CInstancePaths::AppsConfigFolder();
    if (folder.empty())
        return CKxError(KxCode::InvalidParameter, "No instance in focus for the application configurations");
    std::vector<std::string> names;
    KX_RETURN_IF_FAILED(FXFile::ListMatchingFiles(folder, "*.json", names), "Failed to list [%s]", folder.c_str());
    for (const std::string& name : names) {
        AppConfig config;
        if (LoadFile(FXPath::Append(folder, name), config).IsError())
            continue;
        if (visit(config))
            break;
    }
    return CKxError::Success();
}
