#pragma once
// CAppConfigReader: reads and validates one application configuration file
// (config/apps/<orbundId>:<appNumber>.json; keys in docs/configuration.md).
//
// Validation is complete before anything is handed out: a missing or unreadable file keeps
// its errno code; a JSON syntax error, a missing "appType" or a key of the wrong type or out of
// range gives code 13 with one line that begins with the file and names the line and column,
// or the key path, the value found and what was expected
// ("<file>: key "subclient.numStreams" is -5, expected an integer from 1 to 1000"). Unknown
// keys are ignored so that newer files still load.
//
// Thread: any thread (no shared state).
#include <functional>
#include <memory>
#include <string>

#include "Agent/Client.h"
#include "Agent/FileSystemBackupSet.h"
#include "Agent/Subclient.h"
#include "Base/KxError.h"

struct AppConfig {
    unsigned long appType = 0;
    bool indexV2 = false;
    std::shared_ptr<const ClientData> client;           // null when "client" is absent
    std::shared_ptr<const BackupSetData> backupSet;     // null when "backupSet" is absent
    std::shared_ptr<const SubclientData> subclient;     // null when "subclient" is absent
};

class CAppConfigReader {
public:
    [[nodiscard]] static CKxError LoadFile(const std::string& path, AppConfig& config);
    // `origin` names the text in messages (the file path).
    [[nodiscard]] static CKxError Parse(const std::string& text, const std::string& origin, AppConfig& config);
    // Visits the valid configurations of the focused instance (config/apps/*.json in name
    // order) until `visit` answers true; files that fail to load are skipped. Fails with 87
    // without a focus.
    [[nodiscard]] static CKxError ForEachConfig(const std::function<bool(const AppConfig&)>& visit);
    // 1-based line and column of byte offset `offset` of `text`.
    static void LineAndColumn(const std::string& text, size_t offset, size_t& line, size_t& column);
};
