#include "Scan/SubclientContentPrivate.h"

#include "Agent/ApplicationId.h"
#include "Base/FXFile.h"
#include "Base/LogWriter.h"
#include "Engine/FilterTerm.h"
#include "Scan/SubclientContent.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {

using L = CScanContentConfiguration;

std::string TrimRight(const std::string& text)
{
    const size_t end = text.find_last_not_of("\t\r\n");
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

CKxError WriteAll(FILE* file, const std::string& text, const std::string& path)
{
    if (std::fwrite(text.data(), 1, text.size(), file) != text.size())
        return CKxError::FromErrno(errno, KxFormat("Failed write to [%s]", path.c_str()));
    return CKxError::Success();
}

}  // namespace

CSubclientContentPrivate::CSubclientContentPrivate(CSubclientContent* content)
    : m_content(content), m_preprocessor(std::make_shared<CContentPreprocessor>())
{
}

CSubclientContentPrivate::~CSubclientContentPrivate() = default;

CKxError CSubclientContentPrivate::Initialize() { return CKxError::Success(); }

CKxError CSubclientContentPrivate::LoadContent_ExpandSymbolicLink() { return CKxError::Success(); }

CKxError CSubclientContentPrivate::LoadSubClientConfiguration()
{
    const std::shared_ptr<ApplicationId>& appId = m_content->GetApplicationId();
    std::shared_ptr<SubclientConf> conf = appId ? appId->getSubclientConf() : nullptr;
    if (!conf)
        return (appId ? appId->getLastError() : CKxError(KxCode::UnknownProduct, "No application id"))
            .Push("Failed to get FSSubclientConf object");
    m_content->SetSubclientConf(std::move(conf));
    return CKxError::Success();
}

CKxError CSubclientContentPrivate::LoadSpecialContentFilters() { return CKxError::Success(); }

CKxError CSubclientContentPrivate::LoadSpecialContentFilterExceptions() { return CKxError::Success(); }

CKxError CSubclientContentPrivate::LoadSystemFilters()
{
    CSystemFilterEnumeratorPtr enumerator = m_content->GetSystemFilterEnumerator();
    if (!enumerator)
        return CKxError::Success();
    return m_content->LoadSystemFilters(*enumerator);
}

CKxError CSubclientContentPrivate::LoadAndParseBlackListScanContent() { return CKxError::Success(); }

CKxError CSubclientContentPrivate::ParseScanContent(const std::string& entry, std::vector<std::string>& out)
{
    if (!TrimRight(entry).empty())
        out.push_back(TrimRight(entry));
    return CKxError::Success();
}

CKxError CSubclientContentPrivate::ParseScanContentExceptions(const std::string& entry, std::vector<std::string>& out)
{
    return ParseScanContent(entry, out);
}

CKxError CSubclientContentPrivate::ParseNewContent(const std::string& entry, std::vector<std::string>& out)
{
    return ParseScanContent(entry, out);
}

CKxError CSubclientContentPrivate::ParseFilters(const std::string& entry, std::vector<std::string>& out)
{
    return ParseScanContent(entry, out);
}

CKxError CSubclientContentPrivate::ParseFilterExceptions(const std::string& entry, std::vector<std::string>& out)
{
    return ParseScanContent(entry, out);
}

CKxError CSubclientContentPrivate::ParseSystemFilters(const std::string& entry, std::vector<std::string>& out)
{
    return ParseScanContent(entry, out);
}

CKxError CSubclientContentPrivate::ParseSystemFilterExceptions(const std::string& entry,
                                                               std::vector<std::string>& out)
{
    return ParseScanContent(entry, out);
}

CContentPreprocessorPtr CSubclientContentPrivate::GetContentPreprocessor() { return m_preprocessor; }

bool CSubclientContentPrivate::ListOfLabel(const std::string& label, CScanContentConfiguration::EList& list)
{
    static const std::pair<const char*, L::EList> kLabels[] = {
        {CSubclientContent::kContentLabel, L::ScanContent},
        {CSubclientContent::kContentExceptionLabel, L::ScanContentExceptions},
        {CSubclientContent::kFolderFilterLabel, L::Filters},
        {CSubclientContent::kFolderFilterExceptionLabel, L::FilterExceptions},
        {CSubclientContent::kNameContentLabel, L::NameContent},
        {CSubclientContent::kNameFilterLabel, L::Filters},
    };
    for (const auto& [name, which] : kLabels)
        if (label == name) {
            list = which;
            return true;
        }
    return false;
}

CKxError CSubclientContentPrivate::CheckEntry(CScanContentConfiguration::EList list, const std::string& entry)
{
    if (entry.empty())
        return CKxError(KxCode::InvalidParameter, "Empty entry");
    const bool content = list == L::ScanContent || list == L::NewContent;
    if (content && entry.front() != '/')
        return CKxError(KxCode::InvalidParameter, "Scan content must be an absolute path");
    if (content && !CFilterTerm::IsWildcardItem(entry))
        return CKxError::Success();
    CFilterTerm term;
    KX_RETURN_IF_FAILED(term.LoadRaw(CScanContentConfiguration::ToEnginePattern(entry)), "Invalid pattern");
    return CKxError::Success();
}

void CSubclientContentPrivate::HandOn(CScanContentConfiguration::EList list, const std::vector<std::string>& entries)
{
    CScanContentConfiguration& configuration = *m_content->GetScanContentConfiguration();
    for (const std::string& entry : entries) {
        if (CKxError e = CheckEntry(list, entry); e.IsError()) {
            FSLOG_ERROR("Ignoring %s entry [%s]: %s", L::ListName(list), entry.c_str(), e.AsString().c_str());
            continue;
        }
        configuration.Add(list, entry);
    }
}

CKxError CSubclientContentPrivate::ProcessFilterContent(const std::string& label, const std::vector<std::string>& list)
{
    L::EList which = L::ListCount;
    if (!ListOfLabel(label, which))
        return CKxError(KxCode::InvalidParameter, KxFormat("Unknown filter content label [%s]", label.c_str()));
    FSLOG(3, "%s: %zu entries for %s", label.c_str(), list.size(), L::ListName(which));
    HandOn(which, list);
    return CKxError::Success();
}

void CSubclientContentPrivate::ClearFilterContentList() { m_filterContentList.clear(); }

CKxError CSubclientContentPrivate::SaveSubclientStatus(const std::string& path) const
{
    const CScanContentConfiguration& configuration = *m_content->GetScanContentConfiguration();
    std::string text;
    for (const std::string& entry : configuration.GetScanContent())
        text += "ClientContent||F||" + entry + "\n";
    for (const std::string& entry : configuration.GetFilters())
        text += "ClientFilters||F||" + entry + "\n";
    for (const std::string& entry : configuration.GetFilterExceptions())
        text += "ClientFilters||E||" + entry + "\n";

    // Written aside and renamed: the next job must never read half a status.
    std::string temporary;
    int fd = -1;
    if (CKxError created = FXFile::CreateTemporaryBeside(path, temporary, fd); created.IsError()) {
        created.Push(KxFormat("Failed create/open file [%s]", path.c_str()));
        FSLOG_ERROR("%s", created.AsString().c_str());
        return created;
    }
    FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        CKxError result = CKxError::FromErrno(errno, KxFormat("Failed create/open file [%s]", temporary.c_str()));
        ::close(fd);
        ::unlink(temporary.c_str());
        FSLOG_ERROR("%s", result.AsString().c_str());
        return result;
    }
    CKxError result = WriteAll(file, text, temporary);
    if (result.IsSuccess() && (std::fflush(file) != 0 || ::fsync(::fileno(file)) != 0))
        result = CKxError::FromErrno(errno, KxFormat("Failed write to [%s]", temporary.c_str()));
    if (std::fclose(file) != 0 && result.IsSuccess())
        result = CKxError::FromErrno(errno, KxFormat("Failed write to [%s]", temporary.c_str()));
    if (result.IsSuccess() && std::rename(temporary.c_str(), path.c_str()) != 0)
        result = CKxError::FromErrno(errno, KxFormat("Failed write to [%s]", path.c_str()));
    if (result.IsError()) {
        std::remove(temporary.c_str());
        FSLOG_ERROR("%s", result.AsString().c_str());
    }
    return result;
}

CKxError CSubclientContentPrivate::PostProcess_DefaultSC() { return CKxError::Success(); }

CKxError CSubclientContentPrivate::ReviewScanContent() { return CKxError::Success(); }

bool CSubclientContentPrivate::IsWKFItem(const std::string& entry) const
{
    (void)entry;
    return false;
}

CKxError CSubclientContentPrivate::LoadAndExpandWKFItem(const std::string& entry, std::vector<std::string>& out)
{
    (void)out;
    return CKxError(KxCode::InvalidParameter, KxFormat("No well-known folder [%s] on this platform", entry.c_str()));
}
