#include "Scan/HardLink/HardLinkManager.h"

#include "Base/FXFile.h"
#include "Base/FXPath.h"
#include "Base/FunctionTrace.h"
#include "Base/LogWriter.h"
#include "CollectFile/FlatCollectFile.h"
#include "CollectFile/HardLinksTable.h"
#include "Scan/FileNameFactory.h"

#include <charconv>

namespace {
bool ParseNumber(std::string_view text, int& value)
{
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size() && value > 0;
}
}  // namespace

HardLinkManager::HardLinkManager(std::shared_ptr<CFileNameFactory> names, bool putAllFilesIntoCollect)
    : m_names(std::move(names)), m_folder(m_names->WorkUnitCollectFolder()), m_baseName(m_names->CollectFileBaseName()),
      m_putAll(putAllFilesIntoCollect)
{
    FSLOG(0, "will create Hard-Link Manager object '%s'", m_folder.c_str());
}

HardLinkManager::~HardLinkManager()
{
    std::lock_guard<std::mutex> lock(m_lock);
    (void)CloseAllLocked();
}

std::string HardLinkManager::InFolder(const std::string& name) const { return FXPath::Append(m_folder, name); }

std::string HardLinkManager::HCollectPath(int number, const char* extension) const
{
    return InFolder("H" + m_baseName + std::to_string(number) + extension);
}

CKxError HardLinkManager::PrepareLocked()
{
    // What an earlier job of this folder left (a job that stopped between the walk and the merge)
    // would be read as this job's.
    for (const std::string& pattern : {"H" + m_baseName + "*.zvf", "H" + m_baseName + "*.tmp",
                                       std::string(kSplitConfigName), std::string(kMergedSplitConfigName),
                                       std::string(kTableName) + ".*"})
        KX_RETURN_IF_FAILED(FXFile::DeleteMatchingFiles(m_folder, pattern),
                            "Failed to remove the hard-link files an earlier job left in [%s]", m_folder.c_str());
    m_table = std::make_unique<HardLinksTable>();
    if (m_table->setDirectory(m_folder, false, kTableName) != 0) {
        FSLOG_ERROR("Failed initialize HardLinksTable ([%s],%d): %s", m_folder.c_str(), 0, m_table->LastError().c_str());
        m_tableFailed = true;
    }
    m_prepared = true;
    return CKxError::Success();
}

CKxError HardLinkManager::InsertEntryInHCollectFile(int collectNumber, const HLinkGroupElement& element)
{
    if (element.path.starts_with(kPhonyFolder))
        return CKxError::Success();
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_prepared)
        KX_RETURN_IF_ERROR(PrepareLocked());
    std::unique_ptr<HCollectFile>& file = m_collectFiles[collectNumber];
    if (!file) {
        file = std::make_unique<HCollectFile>(HCollectPath(collectNumber, ".zvf"));
        if (CKxError opened = file->OpenForAppend(); opened.IsError()) {
            FSLOG_ERROR("+++++++Failed to open  output stream for hColFilePath %s ++++++++++.", file->Path().c_str());
            m_collectFiles.erase(collectNumber);
            return std::move(opened.Push("Could not create the HCollectFile object properly"));
        }
    }
    KX_RETURN_IF_FAILED(file->Append(element), "Could not insert entry in hard link collect file [%s]",
                        file->Path().c_str());
    // The table is an index beside the collect lines, which alone carry the names to the backup:
    // a table that fails is reported once and left behind.
    if (!m_tableFailed &&
        m_table->insert(element.device, element.inode, element.changeTime, element.path, std::string()) != 0) {
        FSLOG_ERROR("Failed insert entry into ctree table [%s]: %s; the hard-link table of this job is incomplete",
                    m_folder.c_str(), m_table->LastError().c_str());
        m_tableFailed = true;
    }
    m_dataSize += element.size;
    m_inserted.fetch_add(1, std::memory_order_relaxed);
    return CKxError::Success();
}

CKxError HardLinkManager::CloseAllLocked()
{
    CKxError first = CKxError::Success();
    for (auto& [number, file] : m_collectFiles)
        if (CKxError closed = file->Close(); closed.IsError() && first.IsSuccess())
            first = std::move(closed.Push(KxFormat("Failed to close hard-link collect file [%s]", file->Path().c_str())));
    if (m_table && m_table->close() != 0 && first.IsSuccess())
        first = CKxError(KxCode::UnknownProduct, KxFormat("Failed to close the hard-link table in [%s]: %s", m_folder.c_str(),
                                                      m_table->LastError().c_str()));
    return first;
}

CKxError HardLinkManager::SplitHCollectFile(int splitCount)
{
    FSTRACE();
    std::lock_guard<std::mutex> lock(m_lock);
    KX_RETURN_IF_FAILED(CloseAllLocked(), "Failed to close the hard-link files of the walk");
    m_temporariesOf.clear();
    m_temporaries.clear();
    m_placedSize = 0;
    if (m_collectFiles.empty())
        return CKxError::Success();

    std::map<int, HLinkGroups> groupsOf;
    std::uint64_t groupData = 0;
    for (const auto& [number, file] : m_collectFiles) {
        HLinkGroups& groups = groupsOf[number];
        KX_RETURN_IF_FAILED(HCollectFile::ReadGroups(file->Path(), groups), "Could not create the HL groups map");
        for (const auto& [key, elements] : groups)
            groupData += elements.front().size;
    }
    // The bound counts each group's data once: the backup reads a file once, not once per name.
    const std::uint64_t limit = splitCount > 1 ? groupData / static_cast<std::uint64_t>(splitCount) : 0;
    FSLOG(0, "Size Limit For Hard Link Collect File Splitting is %llu.", static_cast<unsigned long long>(limit));

    int temporary = 0;
    std::unique_ptr<HCollectFile> out;
    auto closeOut = [&]() -> CKxError {
        if (!out)
            return CKxError::Success();
        m_temporaries[temporary].bytes = out->Bytes();
        FSLOG(3, "Closing temporary hcollect %d with %llu items reported", temporary,
              static_cast<unsigned long long>(m_temporaries[temporary].lines));
        CKxError closed = out->Close();
        out.reset();
        return closed;
    };
    auto startNext = [&](int number) -> CKxError {
        KX_RETURN_IF_ERROR(closeOut());
        ++temporary;
        FSLOG(3, "Next temporary hcollect is %d", temporary);
        out = std::make_unique<HCollectFile>(HCollectPath(temporary, ".tmp"));
        m_temporariesOf[number].push_back(temporary);
        KX_RETURN_IF_FAILED(out->Create(), "Failed to create temporary hard-link collect file [%s]",
                            out->Path().c_str());
        return CKxError::Success();
    };
    for (const auto& [number, groups] : groupsOf) {
        FSLOG(0, "Processing HCollectFileSet %d (will process %s)", number, m_putAll ? "all records" : "only first record");
        KX_RETURN_IF_ERROR(startNext(number));
        std::uint64_t running = 0;
        for (const auto& [key, elements] : groups) {
            // A group goes to the next file when it would take this one further past its share
            // than it leaves it short: the files stay within half a group of the share.
            const std::uint64_t size = elements.front().size;
            if (limit != 0 && running != 0 && running + size / 2 > limit) {
                KX_RETURN_IF_ERROR(startNext(number));
                running = 0;
            }
            STemporary& counts = m_temporaries[temporary];
            const size_t written = m_putAll ? elements.size() : 1;
            for (size_t i = 0; i < written; ++i)
                KX_RETURN_IF_FAILED(out->Append(elements[i]), "Failed to write temporary hard-link collect file [%s]",
                                    out->Path().c_str());
            counts.lines += written;
            counts.data += size;
            running += size;
            m_placedSize += size;
        }
    }
    KX_RETURN_IF_FAILED(closeOut(), "Failed to close temporary hard-link collect file %d", temporary);

    std::string map;
    for (const auto& [number, temporaries] : m_temporariesOf) {
        map += std::to_string(number) + " ";
        for (int t : temporaries)
            map += std::to_string(t) + " ";
        map.push_back('\n');
    }
    KX_RETURN_IF_FAILED(FXFile::WriteFileAtomically(InFolder(kSplitConfigName), map, FXFile::EDurability::Volatile),
                        "Could not create hard link split config file.");
    // Every name now sits in a temporary file: the walk's files would be read twice.
    for (const auto& [number, file] : m_collectFiles)
        KX_RETURN_IF_FAILED(FXFile::Remove(file->Path()), "Failed to remove hard-link collect file [%s]",
                            file->Path().c_str());
    m_collectFiles.clear();
    return CKxError::Success();
}

CKxError HardLinkManager::MergeSplitFiles(int& lastCollectNumber, std::vector<COutputResourcesPtr>& outputResources,
                                          std::vector<CCollectEvidence::SEntry>& written)
{
    FSTRACE();
    if (m_temporaries.empty())
        return CKxError::Success();
    // Groups by collect number, the hard-link members first ("H" + temporary number).
    std::map<std::string, std::vector<std::string>> groups;
    for (const auto& [number, temporaries] : m_temporariesOf)
        for (int t : temporaries) {
            groups[std::to_string(number)].push_back("H" + std::to_string(t));
            FSLOG(3, "added hard-link collect H%d to group %d", t, number);
        }

    const std::string splitConfig = m_names->SplitCollect(0, 0);
    std::string content;
    if (FXFile::Exists(splitConfig)) {
        KX_RETURN_IF_FAILED(FXFile::Copy(splitConfig, InFolder("split_config.orig")),
                            "Failed to keep the split map [%s]", splitConfig.c_str());
        KX_RETURN_IF_FAILED(FXFile::ReadWholeFile(splitConfig, content), "Error analyzing regular collect file splitting");
    }
    for (size_t start = 0; start < content.size();) {
        const size_t end = std::min(content.find('\n', start), content.size());
        const std::string line = content.substr(start, end - start);
        start = end + 1;
        if (line.empty())
            continue;
        std::vector<int> fields;
        for (size_t at = 0; at < line.size();) {
            const size_t blank = std::min(line.find(' ', at), line.size());
            int value = 0;
            if (!ParseNumber(std::string_view(line).substr(at, blank - at), value))
                return CKxError(KxCode::InvalidData,
                                KxFormat("Error analyzing regular collect file splitting: line [%s] of [%s]",
                                         line.c_str(), splitConfig.c_str()));
            fields.push_back(value);
            at = blank + 1;
        }
        if (fields.size() != 1 && fields.size() != 3)
            return CKxError(KxCode::InvalidData, KxFormat("Error analyzing regular collect file splitting: line [%s]",
                                                          line.c_str()));
        std::vector<std::string>& members = groups[std::to_string(fields[0])];
        members.push_back(std::to_string(fields[0]));
        if (fields.size() == 3)
            for (int n = fields[1]; n <= fields[2]; ++n)
                members.push_back(std::to_string(n));
        FSLOG(3, "added non-hard-link collect %s to group %d", line.c_str(), fields[0]);
    }

    for (auto& [group, members] : groups) {
        COutputResourcesPtr owner;
        for (const COutputResourcesPtr& resource : outputResources)
            if (std::to_string(resource->GetCollectNumber()) == group)
                owner = resource;
        if (!owner)
            return CKxError(KxCode::NotFound, KxFormat("No output resource has collect number %s", group.c_str()));
        FSLOG(3, "For key %s found resource with SourcePath [%s] VolumeID [%s]", group.c_str(),
              owner->GetSourceVolumePath().c_str(), owner->GetVolumeId().c_str());
        const long long jobId = owner->GetCollectConsumer() ? owner->GetCollectConsumer()->GetJobId() : 0;
        for (std::string& member : members) {
            if (member[0] != 'H')
                continue;
            const int temporary = std::stoi(member.substr(1));
            const STemporary& counts = m_temporaries[temporary];
            const int number = ++lastCollectNumber;
            const std::string from = HCollectPath(temporary, ".tmp");
            const std::string to = m_names->WorkUnitCollect(number);
            FSLOG(0, "  moving [%s] to [%s]", from.c_str(), to.c_str());
            KX_RETURN_IF_FAILED(FXFile::Rename(from, to), "Could not rename the file %s to %s", from.c_str(), to.c_str());
            auto collect = std::make_shared<CFlatCollectFile>(jobId, to, owner->GetSourceVolumePath());
            collect->SetCounts(counts.lines, 0, counts.data);
            auto resource = std::make_shared<COutputResources>(number, owner->GetSourceVolumePath(), owner->GetVolumeId());
            resource->SetCollectConsumer(std::move(collect));
            outputResources.push_back(std::move(resource));
            FSLOG(0, "Added resource %d with SourcePath [%s] VolumeID [%s]", number,
                  owner->GetSourceVolumePath().c_str(), owner->GetVolumeId().c_str());
            written.push_back({counts.lines + 1, counts.bytes, FXPath::FileName(to)});
            member = "H" + std::to_string(number);
        }
    }

    std::string merged, final;
    for (const auto& [group, members] : groups) {
        for (size_t i = 0; i < members.size(); ++i) {
            merged += members[i] + " ";
            final += (i ? "," : "") + (members[i][0] == 'H' ? members[i].substr(1) : members[i]);
        }
        merged.push_back('\n');
        final.push_back('\n');
    }
    KX_RETURN_IF_FAILED(
        FXFile::WriteFileAtomically(InFolder(kMergedSplitConfigName), merged, FXFile::EDurability::Volatile),
        "Error while creating the Merged split config file");
    KX_RETURN_IF_FAILED(FXFile::WriteFileAtomically(splitConfig, final, FXFile::EDurability::Volatile),
                        "Error while creating the final split config file");
    FSLOG(0, "a_uiLastCollectFileNumber = %u iSkipCollectCount = %d", static_cast<unsigned>(lastCollectNumber), 0);
    return CKxError::Success();
}
