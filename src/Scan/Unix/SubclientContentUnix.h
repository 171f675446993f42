#pragma once
// CSubclientContentUnix: the Unix platform part of CSubclientContent.
//
// Per-entry translation (content, content exceptions, new content, filters, filter
// exceptions): trailing "\t\r\n" trimmed (an empty entry is ignored); a single leading
// backslash dropped, a leading double backslash turned into "UNC-NT_"; for an entry holding
// the sequence \/\/ or a wildcard, a trailing \/\/ removed, "/**/" put in front of an entry of
// two or more characters that does not begin with "/", "%" or "<", and, for instance base
// versions 1 to 10, one more "*" after a trailing "/*"; then the content preprocessor.
//
// Platform steps: the system denylist (first existing of the content's denylist files, used
// when GlobalParams "AllowBackupDenylistFile" or "AllowBackupBlacklistFile" is 1; each line
// beginning with "/" becomes a system filter and a BlackListContent entry), the expansion of
// content reached through symbolic links (only logged and raised as events: there is no
// management server to send it to), the root-content mark of a default subclient
// ("SC:isDefaultSCContentRoot"), and the guards of cluster service groups (no cluster
// utility here: their mount points are never found and the content stays as it is).
//
// Ownership and thread as CSubclientContentPrivate.
#include "Scan/SubclientContentPrivate.h"

#include <map>
#include <string>
#include <vector>

class CSubclientContentUnix : public CSubclientContentPrivate {
public:
    // Event ids raised by the symbolic-link expansion.
    static constexpr uint32_t kEventSymLinkDuplicate = 0x0e00005a;
    static constexpr uint32_t kEventSymLinkLoop = 0x06000041;

    explicit CSubclientContentUnix(CSubclientContent* content);
    ~CSubclientContentUnix() override;

    [[nodiscard]] CKxError Initialize() override;
    [[nodiscard]] CKxError LoadContent_ExpandSymbolicLink() override;
    [[nodiscard]] CKxError LoadSubClientConfiguration() override;
    [[nodiscard]] CKxError LoadSpecialContentFilters() override;
    [[nodiscard]] CKxError LoadSpecialContentFilterExceptions() override;
    [[nodiscard]] CKxError LoadSystemFilters() override;
    [[nodiscard]] CKxError LoadAndParseBlackListScanContent() override;
    [[nodiscard]] CKxError ParseScanContent(const std::string& entry, std::vector<std::string>& out) override;
    [[nodiscard]] CKxError ParseScanContentExceptions(const std::string& entry, std::vector<std::string>& out) override;
    [[nodiscard]] CKxError ParseNewContent(const std::string& entry, std::vector<std::string>& out) override;
    [[nodiscard]] CKxError ParseFilters(const std::string& entry, std::vector<std::string>& out) override;
    [[nodiscard]] CKxError ParseFilterExceptions(const std::string& entry, std::vector<std::string>& out) override;
    [[nodiscard]] CKxError ParseSystemFilters(const std::string& entry, std::vector<std::string>& out) override;
    [[nodiscard]] CKxError ParseSystemFilterExceptions(const std::string& entry, std::vector<std::string>& out) override;
    CContentPreprocessorPtr GetContentPreprocessor() override;
    [[nodiscard]] CKxError ProcessFilterContent(const std::string& label, const std::vector<std::string>& list) override;
    void ClearFilterContentList() override;
    [[nodiscard]] CKxError SaveSubclientStatus(const std::string& path) const override;
    [[nodiscard]] CKxError PostProcess_DefaultSC() override;
    // Cluster service groups, then the check that something is left to back up.
    [[nodiscard]] CKxError ReviewScanContent() override;
    bool IsWKFItem(const std::string& entry) const override;
    [[nodiscard]] CKxError LoadAndExpandWKFItem(const std::string& entry, std::vector<std::string>& out) override;

    // What kind of list an entry is translated for (it chooses the log lines).
    enum class EEntryKind { Content, Filter, FilterException };
    // The translation of one entry (steps up to the preprocessor); false when the entry is
    // ignored.
    bool TranslateEntry(const std::string& entry, EEntryKind kind, std::string& translated) const;

    // The content entries whose symbolic links lead elsewhere, with the physical paths kept
    // (what would be sent to the management server).
    const std::map<std::string, std::vector<std::string>>& GetSymbolicLinkContent() const { return m_symbolicLinks; }

    // Cluster service groups of a default subclient: only the guards and their log lines.
    [[nodiscard]] CKxError HandleClusterMounts();
    // The mount points of a service group ("" for all groups). This agent has no cluster
    // utility, so it always fails with 1168.
    [[nodiscard]] virtual CKxError GetClusterMounts(const std::string& serviceGroup, std::vector<std::string>& mounts);

private:
    [[nodiscard]] CKxError ExpandSubClientContent();
    // Preprocesses a translated entry and appends the results, logging each with `added`
    // (or `expanded` for a moniker's expansion).
    CKxError AddPreprocessed(const std::string& translated, std::vector<std::string>& out, const char* added,
                             const char* expanded);

    std::map<std::string, std::vector<std::string>> m_symbolicLinks;
};
