#include "Scan/Unix/UnixMultiStreamExtentSplitCollectFiles.h"

#include "Base/FXFile.h"
#include "Base/FunctionTrace.h"
#include "Base/LogWriter.h"
#include "CollectFile/BufferedFile.h"
#include "CollectFile/CollectFileReader.h"
#include "CollectFile/ExtentLine.h"
#include "CollectFile/FileExtentTable.h"
#include "CollectFile/FlatCollectFile.h"
#include "Scan/FileNameFactory.h"
#include "Scan/PostProcessingOptions.h"
#include "Scan/ScannerConfigurationBagId.h"

#include <algorithm>
#include <chrono>

#include <unistd.h>

namespace {
namespace Id = SXScannerConfigurationBagId;

// Rewritten lines reach the file in blocks of about this size.
constexpr size_t kBlockBytes = size_t{256} << 10;

std::uint64_t Fnv1a(std::string_view text, std::uint64_t hash)
{
    for (unsigned char byte : text) {
        hash ^= byte;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}
}  // namespace

CUnixMultiStreamExtentSplitCollectFiles::CUnixMultiStreamExtentSplitCollectFiles(
    std::shared_ptr<CPostProcessingOptions> options, std::shared_ptr<CFileNameFactory> names,
    std::vector<COutputResourcesPtr>& outputResources, int lastCollectNumber, CBagPtr scannerOptions, long long jobId)
    : CUnixSplitCollectFiles(std::move(options), std::move(names), outputResources, lastCollectNumber),
      m_scannerOptions(std::move(scannerOptions)), m_jobId(jobId)
{
}

CUnixMultiStreamExtentSplitCollectFiles::~CUnixMultiStreamExtentSplitCollectFiles() = default;

bool CUnixMultiStreamExtentSplitCollectFiles::ExtentsEnabled() const
{
    return m_scannerOptions && m_scannerOptions->GetBool(Id::idMultiStreamExtentBackup);
}

std::string CUnixMultiStreamExtentSplitCollectFiles::TableName(long long jobId)
{
    return KxFormat("%s_scan_%lld", CFileExtentTable::GetDefaultTableName().c_str(), jobId);
}

std::string CUnixMultiStreamExtentSplitCollectFiles::IdentifierOf(const std::string& path)
{
    // Two 64-bit FNV-1a hashes from different offset bases: stable across jobs and hosts.
    return KxFormat("%016llx%016llx", static_cast<unsigned long long>(Fnv1a(path, 0xcbf29ce484222325ULL)),
                    static_cast<unsigned long long>(Fnv1a(path, 0x84222325cbf29ce4ULL)));
}

CKxError CUnixMultiStreamExtentSplitCollectFiles::Run()
{
    if (!ExtentsEnabled())
        return CUnixSplitCollectFiles::Run();
    KX_RETURN_IF_FAILED(Run2(), "Failed to expand the files backed up by extents");
    KX_RETURN_IF_FAILED(CUnixSplitCollectFiles::Run(), "Failed to split the collect files holding extents");
    KX_RETURN_IF_FAILED(CreateNodeMapFile(), "Failed to write the extent node map");
    return CKxError::Success();
}

CKxError CUnixMultiStreamExtentSplitCollectFiles::ProcessExtents(std::string_view line, int parentCollectNumber,
                                                                 int childCollectNumber)
{
    if (!ExtentsEnabled())
        return CUnixSplitCollectFiles::ProcessExtents(line, parentCollectNumber, childCollectNumber);
    if (!line.starts_with(CExtentLine::kExtentMarker) || m_extentCollectNumbers.contains(childCollectNumber) ||
        !m_expandedCollectNumbers.contains(parentCollectNumber))
        return CKxError::Success();
    FSLOG(0, "Extent entry in collect iParentCollectID [%d], iChildCollectID [%d], line [%.*s]", parentCollectNumber,
          childCollectNumber, static_cast<int>(line.size()), line.data());
    m_extentCollectNumbers.insert(childCollectNumber);
    return CKxError::Success();
}

CKxError CUnixMultiStreamExtentSplitCollectFiles::Run2()
{
    FSTRACE();
    const auto started = std::chrono::steady_clock::now();
    // The container resource is appended behind the ones the walk made; only those are read.
    const size_t walkedResources = m_outputResources.size();
    const auto expandAll = [&]() -> CKxError {
        for (size_t index = 0; index < walkedResources; ++index) {
            const COutputResourcesPtr resource = m_outputResources[index];
            auto collect = std::dynamic_pointer_cast<CFlatCollectFile>(resource->GetCollectConsumer());
            if (!collect) {
                FSLOG(0, "Can't processing unit #%d", static_cast<int>(index));
                continue;
            }
            if (collect->GetItemCount() == 0) {
                FSLOG(0, "Resource %d have 0 processed items not splitting", static_cast<int>(index));
                continue;
            }
            if (collect->GetExtentQualifiedCount() != 0)  // the others are not read twice
                KX_RETURN_IF_ERROR(ExpandOne(resource, collect));
        }
        if (m_containers)
            KX_RETURN_IF_ERROR(m_containers->Close());
        if (m_extentTable)
            KX_RETURN_IF_FAILED(m_extentTable->CloseTable(), "Failed to save the file extent table");
        return CKxError::Success();
    };
    if (CKxError expanded = expandAll(); expanded.IsError()) {
        AbandonContainerFile();
        return expanded;
    }

    if (m_scannerOptions) {
        (void)m_scannerOptions->Write(Id::idTotalExtentCount, static_cast<unsigned long long>(m_totalExtents));
        (void)m_scannerOptions->Write(Id::idTotalContainerCount, static_cast<unsigned long long>(m_totalContainers));
    }
    // Extents are worth nothing on one stream per disk: every collect file is cut further.
    if (m_options)
        m_options->SetMultipleReads();
    FSLOG(0, "File size distribution of extent qualified items: up to 10 GiB [%llu], up to 100 GiB [%llu], up to "
             "500 GiB [%llu], up to 1 TiB [%llu], larger [%llu]",
          static_cast<unsigned long long>(m_sizeClasses[0]), static_cast<unsigned long long>(m_sizeClasses[1]),
          static_cast<unsigned long long>(m_sizeClasses[2]), static_cast<unsigned long long>(m_sizeClasses[3]),
          static_cast<unsigned long long>(m_sizeClasses[4]));
    FSLOG(0, "Extent expansion: %llu files, %llu extents in %lld ms", static_cast<unsigned long long>(m_totalContainers),
          static_cast<unsigned long long>(m_totalExtents),
          static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - started)
                                     .count()));
    return CKxError::Success();
}

CKxError CUnixMultiStreamExtentSplitCollectFiles::ExpandOne(const COutputResourcesPtr& resource,
                                                            const std::shared_ptr<CFlatCollectFile>& collect)
{
    const std::string path = collect->GetFileName();
    FSLOG(0, "Processing collect file [%s]...", path.c_str());
    KX_RETURN_IF_FAILED(collect->Close(), "Failed to close collect file [%s] before expanding its extents",
                        path.c_str());

    CCollectFileReader reader;
    if (CKxError opened = reader.OpenCollectFile(path); opened.IsError())
        return RaiseSplitFailure(std::move(opened.Push(KxFormat("Failed open input file [%s]", path.c_str()))), path);
    // Written beside the file and renamed over it once whole: a failure leaves the file as it was.
    std::string temp;
    int fd = -1;
    if (CKxError created = FXFile::CreateTemporaryBeside(path, temp, fd); created.IsError())
        return RaiseSplitFailure(std::move(created.Push(KxFormat("Failed open output file [%s]", path.c_str()))),
                                 path);
    ::close(fd);
    CBufferedFile out;
    std::uint64_t qualified = 0, qualifiedData = 0, extents = 0, extentData = 0;
    const auto rewrite = [&]() -> CKxError {
        KX_RETURN_IF_ERROR(out.Open(temp));
        std::string block;
        std::string text;
        CExtentLine::EKind kind{};
        while (true) {
            KX_RETURN_IF_ERROR(reader.GetNextLine(text));
            if (reader.IsEndOfFile())
                break;
            const std::string& raw = reader.GetCurrentRawLine();
            if (CExtentLine::KindOf(raw, kind) && kind == CExtentLine::EKind::Qualified) {
                CExtentLine file;
                KX_RETURN_IF_FAILED(CExtentLine::Parse(raw, file), "Line %llu of collect file [%s]",
                                    static_cast<unsigned long long>(reader.GetLineNumber()), path.c_str());
                std::uint64_t fileExtents = 0, fileData = 0;
                KX_RETURN_IF_ERROR(ExpandFile(file, resource, out, block, fileExtents, fileData));
                ++qualified;
                qualifiedData += file.size;
                extents += fileExtents;
                extentData += fileData;
            } else {
                block.append(raw);
                block.push_back('\n');
            }
            if (block.size() >= kBlockBytes) {
                KX_RETURN_IF_ERROR(out.Append(block));
                block.clear();
            }
        }
        KX_RETURN_IF_ERROR(out.Append(block));
        KX_RETURN_IF_ERROR(out.Close());
        return FXFile::Rename(temp, path);
    };
    if (CKxError rewritten = rewrite(); rewritten.IsError()) {
        (void)out.Close();
        (void)FXFile::Remove(temp);
        return RaiseSplitFailure(
            std::move(rewritten.Push(KxFormat("Failed to expand the extents of collect file [%s]", path.c_str()))),
            path);
    }

    // The rewritten file in place of the walk's, counted as it now is: each qualified line gave
    // way to its extents.
    auto expanded = std::make_shared<CFlatCollectFile>(collect->GetJobId(), path, collect->GetSourceVolumePath());
    expanded->SetCounts(collect->GetItemCount() - qualified + extents, collect->GetFolderCount(),
                        collect->GetDataSize() - std::min(qualifiedData, collect->GetDataSize()) + extentData);
    resource->SetCollectConsumer(expanded);
    m_expandedCollectNumbers.insert(resource->GetCollectNumber());
    FSLOG(0, "Processing collect file [%s] complete: %llu files as %llu extents.", path.c_str(),
          static_cast<unsigned long long>(qualified), static_cast<unsigned long long>(extents));
    return CKxError::Success();
}

CKxError CUnixMultiStreamExtentSplitCollectFiles::ExpandFile(const CExtentLine& qualified,
                                                             const COutputResourcesPtr& resource, CBufferedFile& out,
                                                             std::string& block, std::uint64_t& extents,
                                                             std::uint64_t& extentData)
{
    if (!m_extentTable)
        KX_RETURN_IF_ERROR(OpenExtentTable());
    if (!m_containers)
        KX_RETURN_IF_ERROR(OpenContainerFile(resource));
    const auto sizeClass = std::lower_bound(kSizeClassLimits.begin(), kSizeClassLimits.end(), qualified.fileSize);
    ++m_sizeClasses[static_cast<size_t>(sizeClass - kSizeClassLimits.begin())];

    CExtentLine line = qualified;
    line.kind = CExtentLine::EKind::Extent;
    line.extentSize = qualified.EffectiveExtentSize();
    line.hasSize = true;
    extents = line.ExtentCount();
    extentData = 0;
    for (std::uint64_t at = 0; at < extents; ++at) {
        line.index = at;
        line.size = line.ExtentLength(at);
        extentData += line.size;
        line.AppendTo(block);
        block.push_back('\n');
        if (block.size() >= kBlockBytes) {
            KX_RETURN_IF_ERROR(out.Append(block));
            block.clear();
        }
    }

    CExtentLine container = line;
    container.kind = CExtentLine::EKind::Container;
    container.index = 0;
    container.hasSize = false;
    container.size = 0;
    KX_RETURN_IF_FAILED(m_containers->RawWriteItem(container.Format(), 0), "Failed to write the container of [%s]",
                        qualified.path.c_str());

    // One record per bitmap page; an empty file still has its page 0, with no extent marked.
    const std::string identifier = IdentifierOf(qualified.path);
    const std::uint64_t pageSize = FileExtentRecord::GetBitMapPageSize();
    const std::uint64_t pages = extents == 0 ? 1 : (extents - 1) / pageSize + 1;
    for (std::uint64_t page = 0; page < pages; ++page) {
        FileExtentRecord record;
        record.identifier = identifier;
        record.pageId = page;
        record.jobId = static_cast<std::uint64_t>(m_jobId);
        record.path = qualified.path;
        record.extentCount = extents;
        record.fileSize = qualified.fileSize;
        record.extentSize = line.extentSize;
        const std::uint64_t last = std::min(extents, (page + 1) * pageSize);
        for (std::uint64_t at = page * pageSize; at < last; ++at)
            record.extentBitmap.set(static_cast<size_t>(at - page * pageSize));
        FSLOG(3, "Adding entry to DB. GUID [%s], page id [%llu], path [%s], ullExtentNumber[%llu]", identifier.c_str(),
              static_cast<unsigned long long>(page), qualified.path.c_str(), static_cast<unsigned long long>(extents));
        KX_RETURN_IF_FAILED(m_extentTable->UpdateOrInsertRecord(record), "Failed to UpdateOrInsertRecord for [%s]",
                            qualified.path.c_str());
    }
    m_totalExtents += extents;
    ++m_totalContainers;
    return CKxError::Success();
}

CKxError CUnixMultiStreamExtentSplitCollectFiles::OpenExtentTable()
{
    const std::string folder = m_names->GetResultsFolder();
    const std::string name = TableName(m_jobId);
    FSLOG(0, "Initializing %s/%s", folder.c_str(), name.c_str());
    auto table = std::make_unique<CFileExtentTable>();
    KX_RETURN_IF_FAILED(table->Initialize(folder, name), "Failed to initialize the file extent table %s/%s",
                        folder.c_str(), name.c_str());
    m_extentTable = std::move(table);
    return CKxError::Success();
}

CKxError CUnixMultiStreamExtentSplitCollectFiles::OpenContainerFile(const COutputResourcesPtr& resource)
{
    const int number = m_lastCollectNumber + 1;
    const std::string path = m_names->WorkUnitCollect(number);
    const auto* volumeCollect = dynamic_cast<const CFlatCollectFile*>(resource->GetCollectConsumer().get());
    auto containers = std::make_shared<CFlatCollectFile>(
        m_jobId, path, volumeCollect ? volumeCollect->GetSourceVolumePath() : resource->GetSourceVolumePath());
    if (CKxError opened = containers->Open(); opened.IsError())
        return RaiseSplitFailure(std::move(opened.Push(KxFormat("Failed open output file [%s]", path.c_str()))), path);
    m_lastCollectNumber = number;
    ++m_addedCollectFiles;
    m_containerNumber = number;
    m_containers = std::move(containers);
    auto containerResource =
        std::make_shared<COutputResources>(number, resource->GetSourceVolumePath(), resource->GetVolumeId());
    containerResource->SetCollectConsumer(m_containers);
    m_outputResources.push_back(std::move(containerResource));
    if (m_scannerOptions)
        (void)m_scannerOptions->Write(Id::idContainerCollectId, number);
    FSLOG(0, "Container lines go to collect file %d [%s]", number, path.c_str());
    return CKxError::Success();
}

void CUnixMultiStreamExtentSplitCollectFiles::AbandonContainerFile()
{
    if (!m_containers)
        return;
    (void)m_containers->Close();
    (void)FXFile::Remove(m_containers->GetFileName());
    std::erase_if(m_outputResources,
                  [&](const COutputResourcesPtr& resource) { return resource->GetCollectConsumer() == m_containers; });
    if (m_scannerOptions)
        (void)m_scannerOptions->Remove(Id::idContainerCollectId);
    m_containers.reset();
    m_containerNumber = 0;
}

CKxError CUnixMultiStreamExtentSplitCollectFiles::CreateNodeMapFile()
{
    std::string content;
    for (int number : m_extentCollectNumbers) {
        FSLOG(0, "Extent collect file [%d]", number);
        content += KxFormat("extent %d\n", number);
    }
    if (m_containerNumber != 0) {
        FSLOG(0, " Added Container file entry ++++++ %d", m_containerNumber);
        content += KxFormat("container %d\n", m_containerNumber);
        if (auto pieces = m_splitMap.find(m_containerNumber); pieces != m_splitMap.end())
            for (int piece : pieces->second) {
                FSLOG(0, " Added Container file entry splitted entry  %d", piece);
                content += KxFormat("container %d\n", piece);
            }
    }
    const std::string path = m_names->FileExtentBackupInfoFile();
    // On disk with the job's other results, by its final sync pass.
    KX_RETURN_IF_FAILED(FXFile::WriteFileAtomically(path, content, FXFile::EDurability::Volatile), "Failed to open '%s'",
                        path.c_str());
    return CKxError::Success();
}
