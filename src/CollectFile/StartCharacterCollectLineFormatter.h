#pragma once
// CStartCharacterCollectLineFormatter: collect lines that begin with a one-character marker
// of the entry's kind, for readers that run with SetHasStartCharacters(true):
//
//   <start><escaped path>[/][<separator><size>]
//
// The start character is the file character or the folder character, or the content-push
// character for every entry while SetContentPush(true) holds (the trailing '/' still tells a
// folder). Files carry "<separator><size>"; folders end in '/'.
//
// Path mapping, applied to the entry's local path before escaping, in this order:
// 1. a path under the common info's local volume path is moved under the source volume path
//    (SetSourceVolumePath; without one the local path stays);
// 2. with a migration-assistant path set, a path under it loses that prefix (migrated content
//    is recorded as it lies on the machine it came from);
// 3. otherwise, with a backup-at path set, the path relative to the source volume is placed
//    under the backup-at path.
//
// Thread: see ICollectLineFormatter.
#include "CollectFile/CollectLineCommonInfo.h"
#include "CollectFile/CollectLineFormatter.h"

#include <string_view>

class CStartCharacterCollectLineFormatter : public ICollectLineFormatter {
public:
    CStartCharacterCollectLineFormatter(CCollectLineCommonInfoPtr commonInfo, char fileCharacter, char folderCharacter,
                                        char contentPushCharacter, char separator = '|');

    void SetContentPush(bool contentPush) { m_contentPush = contentPush; }
    void SetBackupAtPath(std::string path);
    void SetSourceVolumePath(std::string path);
    void SetMigrationAssistantPath(std::string path);

    void FormatLine(const CCollectFileEntry& entry, std::string& line) const override;
    // The mapping step alone (for tests and diagnostics).
    std::string MapPath(std::string_view localPath) const;

private:
    CCollectLineCommonInfoPtr m_commonInfo;
    char m_fileCharacter;
    char m_folderCharacter;
    char m_contentPushCharacter;
    char m_separator;
    bool m_contentPush = false;
    std::string m_backupAtPath;
    std::string m_sourceVolumePath;
    std::string m_migrationAssistantPath;
};
