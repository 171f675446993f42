#include "Scan/Unix/SubclientContentUnix.h"

#include "Agent/ApplicationId.h"
#include "Agent/EvEvent.h"
#include "Agent/ZVPlatformInfo.h"
#include "Base/FXPath.h"
#include "Base/FunctionTrace.h"
#include "Base/LogWriter.h"
#include "Engine/FilterTerm.h"
#include "Scan/ScannerConfigurationBagId.h"
#include "Scan/ScannerSettings.h"
#include "Scan/SubclientContent.h"
#include "Scan/Unix/UnixSymbolicLink.h"
#include "Scan/Unix/isDuplicate.h"
#include "Scan/Unix/isNestedMount.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <strings.h>

namespace Id = SXScannerConfigurationBagId;
using L = CScanContentConfiguration;

namespace {

constexpr const char kLegacySeparator[] = "\\/\\/";  // the four characters \/\/
constexpr long kEmptyContent = 4306;

std::string TrimRight(const std::string& text)
{
    const size_t end = text.find_last_not_of("\t\r\n");
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

bool EndsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool LegacyTranslationRequired(const std::string& entry)
{
    return entry.size() >= 2 && entry.front() != '/' && entry.front() != '%' && entry.front() != '<';
}

bool GlobalParamIsOne(const char* key)
{
    uint32_t value = 0;
    return ZVPlatformInfo::getNumber("GlobalParams", key, value) && value == 1;
}

bool ResolveHost(const std::string& host, std::string& address)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
        return false;
    char text[INET6_ADDRSTRLEN] = {};
    const void* raw = found->ai_family == AF_INET
                          ? static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr)
                          : static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(found->ai_addr)->sin6_addr);
    const bool ok = ::inet_ntop(found->ai_family, raw, text, sizeof(text)) != nullptr;
    ::freeaddrinfo(found);
    if (ok)
        address = text;
    return ok;
}

}  // namespace

CSubclientContentUnix::CSubclientContentUnix(CSubclientContent* content) : CSubclientContentPrivate(content) {}

CSubclientContentUnix::~CSubclientContentUnix() = default;

CKxError CSubclientContentUnix::Initialize() { return CSubclientContentPrivate::Initialize(); }

CKxError CSubclientContentUnix::LoadSubClientConfiguration()
{
    return CSubclientContentPrivate::LoadSubClientConfiguration();
}

CKxError CSubclientContentUnix::LoadSpecialContentFilters()
{
    FSLOG(3, "No special content filters on this platform");
    return CKxError::Success();
}

CKxError CSubclientContentUnix::LoadSpecialContentFilterExceptions()
{
    FSLOG(3, "No special content filter exceptions on this platform");
    return CKxError::Success();
}

CKxError CSubclientContentUnix::LoadSystemFilters() { return CSubclientContentPrivate::LoadSystemFilters(); }

CContentPreprocessorPtr CSubclientContentUnix::GetContentPreprocessor()
{
    return CSubclientContentPrivate::GetContentPreprocessor();
}

CKxError CSubclientContentUnix::ProcessFilterContent(const std::string& label, const std::vector<std::string>& list)
{
    return CSubclientContentPrivate::ProcessFilterContent(label, list);
}

void CSubclientContentUnix::ClearFilterContentList() { CSubclientContentPrivate::ClearFilterContentList(); }

CKxError CSubclientContentUnix::SaveSubclientStatus(const std::string& path) const
{
    return CSubclientContentPrivate::SaveSubclientStatus(path);
}

bool CSubclientContentUnix::IsWKFItem(const std::string& entry) const
{
    (void)entry;
    return false;
}

CKxError CSubclientContentUnix::LoadAndExpandWKFItem(const std::string& entry, std::vector<std::string>& out)
{
    return CSubclientContentPrivate::LoadAndExpandWKFItem(entry, out);
}

bool CSubclientContentUnix::TranslateEntry(const std::string& entry, EEntryKind kind, std::string& translated) const
{
    std::string item = TrimRight(entry);
    if (item.empty())
        return false;

    if (item.compare(0, 2, "\\\\") == 0)
        item = "UNC-NT_" + item.substr(2);
    else if (item.front() == '\\')
        item.erase(0, 1);
    if (item.empty())
        return false;

    if (IsWKFItem(item)) {
        std::vector<std::string> expanded;
        if (CKxError e = const_cast<CSubclientContentUnix*>(this)->LoadAndExpandWKFItem(item, expanded);
            e.IsError() || expanded.empty()) {
            FSLOG_ERROR("Loading WKF failed, Item [%s], error [%s]", item.c_str(), e.AsString().c_str());
        } else {
            item = expanded.front();
            FSLOG(0, "Translated WKF item [%s]", item.c_str());
        }
    }

    if (item.find(kLegacySeparator) != std::string::npos || CFilterTerm::IsWildcardItem(item)) {
        if (EndsWith(item, kLegacySeparator))
            item.erase(item.size() - (sizeof(kLegacySeparator) - 1));
        if (LegacyTranslationRequired(item)) {
            item = "/**/" + item;
            switch (kind) {
            case EEntryKind::Content: FSLOG(0, "No delimiter in scan path, changing it to %s", item.c_str()); break;
            case EEntryKind::Filter: FSLOG(0, "No delimiter in filter, changing it to  %s", item.c_str()); break;
            case EEntryKind::FilterException:
                FSLOG(0, "No delimiter in filter exception, changing it to %s", item.c_str());
                break;
            }
        }
        const unsigned baseVersion = m_content->GetInstanceBaseVersion();
        if (baseVersion >= 1 && baseVersion <= 10 && EndsWith(item, "/*"))
            item += "*";
        switch (kind) {
        case EEntryKind::Content: FSLOG(3, "translated path [%s]", item.c_str()); break;
        case EEntryKind::Filter: FSLOG(3, "translated filter [%s]", item.c_str()); break;
        case EEntryKind::FilterException: FSLOG(3, "translated filter exception [%s]", item.c_str()); break;
        }
    }
    if (item.empty())
        return false;
    translated = std::move(item);
    return true;
}

CKxError CSubclientContentUnix::AddPreprocessed(const std::string& translated, std::vector<std::string>& out,
                                                const char* added, const char* expanded)
{
    std::vector<std::string> entries;
    KX_RETURN_IF_FAILED(GetContentPreprocessor()->TranslateLegacyContent(translated, entries),
                        "TranslateLegacyContent failed for [%s]", translated.c_str());
    const bool moniker = CContentPreprocessor::IsMoniker(translated);
    for (const std::string& entry : entries) {
        FSLOG(0, moniker ? expanded : added, entry.c_str());
        out.push_back(entry);
    }
    return CKxError::Success();
}

CKxError CSubclientContentUnix::ParseScanContent(const std::string& entry, std::vector<std::string>& out)
{
    std::string translated;
    if (!TranslateEntry(entry, EEntryKind::Content, translated))
        return CKxError::Success();
    if (CContentPreprocessor::IsCacheDBMoniker(translated)) {
        FSLOG(0, "Detected Cache DB moniker path [%s], SKIP processing all further Contents", translated.c_str());
        m_content->SetCacheDBBackup();
        m_content->StopContentProcessing();
        return CKxError::Success();
    }
    return AddPreprocessed(translated, out, "Adding (ScanContent): %s", "Expanded path [%s]");
}

CKxError CSubclientContentUnix::ParseScanContentExceptions(const std::string& entry, std::vector<std::string>& out)
{
    std::string translated;
    if (!TranslateEntry(entry, EEntryKind::Content, translated))
        return CKxError::Success();
    if (!m_content->IsDefaultSubclient() && CFilterTerm::IsWildcardItem(translated)) {
        FSLOG(0, "wild-card content (%s) of another Subclient is not filtered by non-default subclient",
              translated.c_str());
        return CKxError::Success();
    }
    std::vector<std::string> entries;
    KX_RETURN_IF_FAILED(GetContentPreprocessor()->TranslateLegacyContent(translated, entries),
                        "TranslateLegacyContent failed for [%s]", translated.c_str());
    const CScanContentConfiguration& configuration = *m_content->GetScanContentConfiguration();
    std::vector<std::string> ownContent = configuration.GetScanContent();
    ownContent.insert(ownContent.end(), configuration.GetNewContent().begin(), configuration.GetNewContent().end());
    for (const std::string& exception : entries) {
        // Another subclient's content that holds ours is not ours to skip: the more specific
        // subclient owns its paths.
        const auto held = std::find_if(ownContent.begin(), ownContent.end(), [&exception](const std::string& own) {
            return !CFilterTerm::IsWildcardItem(exception) && isNestedMount::IsAncestorOf(exception, own, false);
        });
        if (held != ownContent.end()) {
            FSLOG(0, "Content exception [%s] holds content [%s] of this subclient, not skipped", exception.c_str(),
                  held->c_str());
            continue;
        }
        FSLOG(0, "Added content exception (ScanPrune): %s", exception.c_str());
        out.push_back(exception);
    }
    return CKxError::Success();
}

CKxError CSubclientContentUnix::ParseNewContent(const std::string& entry, std::vector<std::string>& out)
{
    std::string translated;
    if (!TranslateEntry(entry, EEntryKind::Content, translated))
        return CKxError::Success();
    return AddPreprocessed(translated, out, "Adding (NewContent): %s", "Expanded path [%s]");
}

CKxError CSubclientContentUnix::ParseFilters(const std::string& entry, std::vector<std::string>& out)
{
    std::string translated;
    if (!TranslateEntry(entry, EEntryKind::Filter, translated))
        return CKxError::Success();
    return AddPreprocessed(translated, out, "Adding translated filter: %s", "Adding Expanded filter: %s");
}

CKxError CSubclientContentUnix::ParseFilterExceptions(const std::string& entry, std::vector<std::string>& out)
{
    std::string translated;
    if (!TranslateEntry(entry, EEntryKind::FilterException, translated))
        return CKxError::Success();
    return AddPreprocessed(translated, out, "Adding translated filter exception: %s",
                           "Adding Expanded filter exception: %s");
}

CKxError CSubclientContentUnix::ParseSystemFilters(const std::string& entry, std::vector<std::string>& out)
{
    std::string translated;
    if (!TranslateEntry(entry, EEntryKind::Filter, translated))
        return CKxError::Success();
    return AddPreprocessed(translated, out, "Adding system filter: %s", "Adding Expanded system filter: %s");
}

CKxError CSubclientContentUnix::ParseSystemFilterExceptions(const std::string& entry, std::vector<std::string>& out)
{
    std::string translated;
    if (!TranslateEntry(entry, EEntryKind::FilterException, translated))
        return CKxError::Success();
    return AddPreprocessed(translated, out, "Adding system filter exception: %s",
                           "Adding Expanded system filter exception: %s");
}

CKxError CSubclientContentUnix::LoadAndParseBlackListScanContent()
{
    FSTRACE();
    std::string file;
    for (const std::string& candidate : {m_content->GetDenylistFile(), m_content->GetLegacyDenylistFile()}) {
        struct stat status {};
        if (!candidate.empty() && ::lstat(candidate.c_str(), &status) == 0) {
            file = candidate;
            break;
        }
    }
    if (file.empty()) {
        FSLOG(0, "Denylist file does not exist");
        return CKxError::Success();
    }
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        FSLOG(0, "Denylist file is not a regular file");
        return CKxError::Success();
    }
    if (!GlobalParamIsOne("AllowBackupDenylistFile") && !GlobalParamIsOne("AllowBackupBlacklistFile")) {
        FSLOG(0, "GlobalParam not enabled for processing denylist file ");
        return CKxError::Success();
    }
    FSLOG(0, "backup denylist file [%s]", file.c_str());
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        FSLOG_ERROR("Failed to open denylist file [%s]", file.c_str());
        return CKxError::Success();
    }
    std::vector<std::string> entries;
    for (std::string line; std::getline(in, line);) {
        line = TrimRight(line);
        if (line.empty() || line.front() != '/')
            continue;
        FSLOG(0, "parsing denylist content [%s]", line.c_str());
        std::vector<std::string> translated;
        if (CKxError e = GetContentPreprocessor()->TranslateLegacyContent(line, translated); e.IsError()) {
            FSLOG_ERROR("Cannot translate denylist content [%s]: %s", line.c_str(), e.AsString().c_str());
            continue;
        }
        for (const std::string& entry : translated) {
            if (CKxError e = CheckEntry(L::SystemFilters, entry); e.IsError()) {
                FSLOG_ERROR("Ignoring denylist content [%s]: %s", entry.c_str(), e.AsString().c_str());
                continue;
            }
            FSLOG(0, "Adding translated denylist content %s", entry.c_str());
            entries.push_back(entry);
        }
    }
    HandOn(L::SystemFilters, entries);
    HandOn(L::BlackListContent, entries);
    return CKxError::Success();
}

CKxError CSubclientContentUnix::LoadContent_ExpandSymbolicLink()
{
    FSTRACE();
    bool follow = false;
    if (!m_content->GetSubclient() || m_content->GetSubclient()->isFollowSymbolicLinkEnabled(follow).IsError()) {
        FSLOG(0, "Unable to get option FollowSymbolicLink.");
        return CKxError::Success();
    }
    if (!follow)
        return CKxError::Success();
    return ExpandSubClientContent();
}

CKxError CSubclientContentUnix::ExpandSubClientContent()
{
    FSTRACE();
    m_symbolicLinks.clear();

    // What the other subclients of the backup set already back up.
    std::vector<std::string> others, collected;
    if (CKxError e = m_content->GetSubclientConf()->nodirs(others); e.IsError())
        FSLOG(0, "nodirs() failed, sub-client=%s", m_content->GetSubclientName().c_str());
    unsigned links = 0;
    for (const std::string& path : others) {
        struct stat status {};
        if (::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode))
            ++links;
    }
    FSLOG(0, "BS content (files:%u symbolicLinks:%u)", static_cast<unsigned>(others.size()), links);
    for (const std::string& path : others) {
        FSLOG(0, "  Content '%s'", path.c_str());
        if (isDuplicate::Normalize(path) == "/") {
            FSLOG(0, "We will not add '/'");
            continue;
        }
        FSLOG(0, "    added '%s'", path.c_str());
        collected.push_back(path);
    }
    const isDuplicate alreadyBackedUp(collected);

    for (const std::string& content : m_content->GetScanContentConfiguration()->GetScanContent()) {
        if (CFilterTerm::IsWildcardItem(content))
            continue;
        FSLOG(0, "Calling getPhysicalPath( '%s', .. )", content.c_str());
        std::vector<std::string> physical;
        std::string physicalRoot;
        if (!UnixSymbolicLink::getPhysicalPath(content, physical, physicalRoot)) {
            FSLOG(0, "getPhysicalPath return false");
            continue;
        }
        if (physical.empty()) {
            FSLOG(3, "no symLinks for '%s'", content.c_str());
            continue;
        }
        std::vector<std::string> kept;
        for (const std::string& path : physical) {
            if (alreadyBackedUp(path)) {
                const std::string message = KxFormat("path '%s' is a duplicate", path.c_str());
                FSLOG(0, "%s", message.c_str());
                (void)EvEvent::Raise(kEventSymLinkDuplicate, EvEvent::Major, message, {path});
                continue;
            }
            kept.push_back(path);
        }
        // A link to an ancestor of what the content reaches would walk the content again
        // through the link, without end.
        std::vector<std::string> reached{physicalRoot};
        reached.insert(reached.end(), kept.begin(), kept.end());
        std::vector<std::string> final;
        for (const std::string& path : kept) {
            const auto below = std::find_if(reached.begin(), reached.end(), [&path](const std::string& other) {
                return isNestedMount::IsAncestorOf(path, other, true);
            });
            if (below != reached.end()) {
                const std::string message = KxFormat(
                    "path '%s' is ancestor of the '%s' for the same content. This is a loop within the symbolic "
                    "link. Will exclude ancestor from sym_link list.",
                    path.c_str(), below->c_str());
                FSLOG(0, "%s", message.c_str());
                (void)EvEvent::Raise(kEventSymLinkLoop, EvEvent::Major, message, {path, *below});
                continue;
            }
            final.push_back(path);
        }
        if (!final.empty())
            m_symbolicLinks[content] = std::move(final);
    }

    unsigned total = 0;
    for (const auto& [content, paths] : m_symbolicLinks)
        total += static_cast<unsigned>(paths.size());
    FSLOG(0, "Data will be sent to CS: (total %u in symbolicLinks)", total);
    for (const auto& [content, paths] : m_symbolicLinks) {
        FSLOG(0, "  key:%s:", content.c_str());
        for (const std::string& path : paths)
            FSLOG(0, "    value:%s:", path.c_str());
    }
    return CKxError::Success();
}

CKxError CSubclientContentUnix::PostProcess_DefaultSC()
{
    const std::vector<std::string>& content = m_content->GetScanContentConfiguration()->GetScanContent();
    if (content.size() == 1 && content.front() == "/") {
        FSLOG(0, "Content of this default subclient is the root file system [/]");
        CScannerSettings::Put(*m_content->GetBag(), Id::idIsDefaultSCContentRoot, true);
    }
    return CKxError::Success();
}

CKxError CSubclientContentUnix::ReviewScanContent()
{
    FSTRACE();
    if (CKxError e = HandleClusterMounts(); e.IsError())
        FSLOG(0, "Cluster mount handling failed, content is left as it is: %s", e.AsString().c_str());

    const CScanContentConfiguration& configuration = *m_content->GetScanContentConfiguration();
    if (!configuration.GetScanContent().empty() || !configuration.GetNewContent().empty() ||
        m_content->IsCacheDBBackup())
        return CKxError::Success();
    if (!m_content->GetFailedContentFiles().empty())
        return CKxError(KxCode::NotFound, KxFormat("No content left, %zu content files not found, sub-client=%s",
                                                   m_content->GetFailedContentFiles().size(),
                                                   m_content->GetSubclientName().c_str()));
    return CKxError(kEmptyContent, KxFormat("Nothing to backup, sub-client=%s", m_content->GetSubclientName().c_str()));
}

CKxError CSubclientContentUnix::GetClusterMounts(const std::string& serviceGroup, std::vector<std::string>& mounts)
{
    mounts.clear();
    return CKxError(KxCode::NotFound, KxFormat("No cluster utility to list the mount points of [%s]",
                                               serviceGroup.empty() ? "all service groups" : serviceGroup.c_str()));
}

CKxError CSubclientContentUnix::HandleClusterMounts()
{
    FSTRACE();
    if (!m_content->IsDefaultSubclient()) {
        FSLOG(3, "This is not a default subclient. Hence, VCS specific code will not be invoked.");
        return CKxError::Success();
    }
    std::string support;
    ZVPlatformInfo::getString("Machines", "sVCS_SUPPORT", support);
    if (!ZVPlatformInfo::isClusterGroupClient(m_content->GetClientName()) || support.empty() ||
        (support.front() != 'Y' && support.front() != 'y')) {
        FSLOG(3, "sVCS_SUPPORT is not set. Hence, VCS specific code will not be invoked.");
        return CKxError::Success();
    }
    FSLOG(0, "sVCS_SUPPORT is set. VCS specific code will be invoked.");

    std::string disable;
    ZVPlatformInfo::getString("Machines", "sVCS_DisableProcessing", disable);
    if (::strcasecmp(disable.c_str(), "All") == 0) {
        FSLOG(0, "The Registry %s is set to All. VCS specific automatic Content and Filter Management will be disabled.",
              "sVCS_DisableProcessing");
        return CKxError::Success();
    }
    const bool physicalDisabled = ::strcasecmp(disable.c_str(), "PM") == 0;
    if (physicalDisabled)
        FSLOG(0, "The Registry %s is set to PM. Physical Machines automatic filter management will be disabled.",
              "sVCS_DisableProcessing");

    std::string hostName, address, serviceGroup, physicalNode;
    ZVPlatformInfo::getString("Machines", "sHOSTNAME", hostName);
    if (!ResolveHost(hostName, address)) {
        FSLOG(0, "Could not get IP address for [%s]. Hence not invoking VCS specific code.", hostName.c_str());
        return CKxError::Success();
    }
    FSLOG(0, "Getting mount points for the IP address [%s].", address.c_str());
    ZVPlatformInfo::getString("Machines", "sVCS_SERVICE_GROUP", serviceGroup);
    FSLOG(0, "VM's hostname [%s] VCS Service Group [%s]. ", hostName.c_str(), serviceGroup.c_str());

    std::vector<std::string> mounts;
    CKxError mountsResult = GetClusterMounts(serviceGroup, mounts);
    if (mountsResult.IsError())
        FSLOG(0, "Failed to get mount points err [%s]", mountsResult.AsString().c_str());
    for (const std::string& mount : mounts)
        FSLOG(0, "Mount point = [%s]", mount.c_str());

    ZVPlatformInfo::getString("Machines", "sPhysicalNodeName", physicalNode);
    CScanContentConfiguration& configuration = *m_content->GetScanContentConfiguration();
    const bool physical = !physicalNode.empty() && physicalNode == m_content->GetClientName();
    if (!physical) {
        if (mountsResult.IsError() || mounts.empty()) {
            FSLOG(0, "VCS: Failed to update VM's content. Everything will be backed up. err = [%x]",
                  static_cast<unsigned>(mountsResult.IsError() ? mountsResult.Code() : KxCode::NotFound));
            return CKxError::Success();
        }
        configuration.List(L::ScanContent).clear();
        HandOn(L::ScanContent, mounts);
        FSLOG(0, "it is a virtual client. Content updated with the mount points for the ServiceGroup [%s]",
              serviceGroup.c_str());
        return CKxError::Success();
    }
    if (physicalDisabled)
        return CKxError::Success();

    std::string backupSetName;
    std::shared_ptr<FileSystemBackupSet> backupSet = m_content->GetApplicationId()->getBackupSet();
    bool defaultSet = false;
    if (!backupSet || backupSet->getBackupSetName(backupSetName).IsError() ||
        backupSet->isDefaultBackupSet(defaultSet).IsError() || !defaultSet) {
        FSLOG(0, "Unable to get PM's default bkpset. Hence not updating its filters.");
        return CKxError::Success();
    }
    FSLOG(0, "Name of default backup set is [%s].", backupSetName.c_str());
    FSLOG(0, "Name of default subclient is [%s].", m_content->GetSubclientName().c_str());
    if (mountsResult.IsError() || mounts.empty()) {
        FSLOG(0, "VCS: Failed to update PM's filters. Everything will be backed up by PM. err = [%x]",
              static_cast<unsigned>(mountsResult.IsError() ? mountsResult.Code() : KxCode::NotFound));
        return CKxError::Success();
    }
    HandOn(L::Filters, mounts);
    FSLOG(0, "Filters for default subclient on PM are updated with ServiceGroup[%s]'s mount points.",
          serviceGroup.c_str());
    return CKxError::Success();
}
