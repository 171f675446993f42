#pragma once
// CSubclientContentPrivate: the platform part of CSubclientContent. The content object
// forwards its platform steps here; this base does what every platform does the same way
// (reading the subclient configuration, handing lists on, the status file) and gives plain
// defaults for the rest: entries are trimmed and taken as they are, no denylist, no system
// filters of its own. CSubclientContentUnix replaces the parsing and the platform steps.
//
// Ownership: owned by its CSubclientContent, which outlives it. Thread: the job's thread.
#include "Base/KxError.h"
#include "Scan/ContentPreprocessor.h"
#include "Scan/ScanContentConfiguration.h"

#include <string>
#include <vector>

class CSubclientContent;

class CSubclientContentPrivate {
public:
    explicit CSubclientContentPrivate(CSubclientContent* content);
    virtual ~CSubclientContentPrivate();
    CSubclientContentPrivate(const CSubclientContentPrivate&) = delete;
    CSubclientContentPrivate& operator=(const CSubclientContentPrivate&) = delete;

    CSubclientContent* GetSubclientContent() const { return m_content; }

    [[nodiscard]] virtual CKxError Initialize();
    [[nodiscard]] virtual CKxError LoadContent_ExpandSymbolicLink();
    // Reads the file-system configuration of the subclient from its application id.
    [[nodiscard]] virtual CKxError LoadSubClientConfiguration();
    [[nodiscard]] virtual CKxError LoadSpecialContentFilters();
    [[nodiscard]] virtual CKxError LoadSpecialContentFilterExceptions();
    [[nodiscard]] virtual CKxError LoadSystemFilters();
    [[nodiscard]] virtual CKxError LoadAndParseBlackListScanContent();
    [[nodiscard]] virtual CKxError ParseScanContent(const std::string& entry, std::vector<std::string>& out);
    [[nodiscard]] virtual CKxError ParseScanContentExceptions(const std::string& entry, std::vector<std::string>& out);
    [[nodiscard]] virtual CKxError ParseNewContent(const std::string& entry, std::vector<std::string>& out);
    [[nodiscard]] virtual CKxError ParseFilters(const std::string& entry, std::vector<std::string>& out);
    [[nodiscard]] virtual CKxError ParseFilterExceptions(const std::string& entry, std::vector<std::string>& out);
    [[nodiscard]] virtual CKxError ParseSystemFilters(const std::string& entry, std::vector<std::string>& out);
    [[nodiscard]] virtual CKxError ParseSystemFilterExceptions(const std::string& entry,
                                                               std::vector<std::string>& out);
    virtual CContentPreprocessorPtr GetContentPreprocessor();
    // Checks each entry of `list` for the list its label names and appends the good ones; an
    // entry the engine could not take (content that is not an absolute path, a malformed
    // pattern) is logged and left out. An unknown label fails with 87.
    [[nodiscard]] virtual CKxError ProcessFilterContent(const std::string& label, const std::vector<std::string>& list);
    // Empties the list being loaded (GetFilterContentList) before the next one.
    virtual void ClearFilterContentList();
    [[nodiscard]] virtual CKxError SaveSubclientStatus(const std::string& path) const;
    [[nodiscard]] virtual CKxError PostProcess_DefaultSC();
    [[nodiscard]] virtual CKxError ReviewScanContent();
    virtual bool IsWKFItem(const std::string& entry) const;
    [[nodiscard]] virtual CKxError LoadAndExpandWKFItem(const std::string& entry, std::vector<std::string>& out);

    // The list the load steps fill before handing it on.
    std::vector<std::string>& GetFilterContentList() { return m_filterContentList; }

    // The configuration list a label hands on to; false for an unknown label.
    static bool ListOfLabel(const std::string& label, CScanContentConfiguration::EList& list);
    // Appends the entries of `entries` that the engine can take for `list`, logging the others.
    void HandOn(CScanContentConfiguration::EList list, const std::vector<std::string>& entries);
    // Whether the engine can take `entry` in `list`: content must be an absolute path, and
    // every pattern must compile.
    static CKxError CheckEntry(CScanContentConfiguration::EList list, const std::string& entry);

protected:
    CSubclientContent* m_content;
    CContentPreprocessorPtr m_preprocessor;
    std::vector<std::string> m_filterContentList;
};
