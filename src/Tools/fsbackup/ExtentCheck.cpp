#include "Tools/fsbackup/ExtentCheck.h"

#include "CollectFile/ExtentLine.h"

#include <algorithm>

CKxError CExtentCheck::Take(std::string_view line, bool& taken)
{
    taken = false;
    CExtentLine::EKind kind{};
    if (!CExtentLine::KindOf(line, kind))
        return CKxError::Success();
    if (kind == CExtentLine::EKind::Qualified)  // the file would be taken by no stream
        return CKxError(KxCode::InvalidData, KxFormat("Extent-qualified line [%.*s] was left unexpanded by the scan",
                                                      static_cast<int>(line.size()), line.data()));
    CExtentLine parsed;
    KX_RETURN_IF_ERROR(CExtentLine::Parse(line, parsed));
    taken = true;
    const Key key{parsed.device, parsed.inode};
    if (kind == CExtentLine::EKind::Container) {
        m_containers.insert(key);
        return CKxError::Success();
    }
    ++m_extents;
    auto [it, added] = m_files.try_emplace(key);
    SFile& file = it->second;
    if (added) {
        file.path = parsed.path;
        file.fileSize = parsed.fileSize;
        file.extentSize = parsed.extentSize;
    } else if (file.fileSize != parsed.fileSize || file.extentSize != parsed.extentSize) {
        file.sizesDiffer = true;
    }
    file.bytes += parsed.hasSize ? parsed.size : parsed.ExtentLength(parsed.index);
    file.indexes.push_back(parsed.index);
    return CKxError::Success();
}

CKxError CExtentCheck::Verify() const
{
    for (const auto& entry : m_files) {
        const auto& key = entry.first;
        const auto& file = entry.second;
        const auto fail = [&](const std::string& why) {
            return CKxError(KxCode::InvalidData, KxFormat("The extents of [%s] (device %llu, inode %llu) %s",
                                                          file.path.c_str(), static_cast<unsigned long long>(key.first),
                                                          static_cast<unsigned long long>(key.second), why.c_str()));
        };
        if (file.sizesDiffer)
            return fail("disagree on the file size or the extent size");
        std::vector<std::uint64_t> indexes = file.indexes;
        std::sort(indexes.begin(), indexes.end());
        for (size_t at = 0; at < indexes.size(); ++at)
            if (indexes[at] != at)
                return fail(KxFormat("are not 0..%zu each once: index %llu %s", indexes.size() - 1,
                                     static_cast<unsigned long long>(indexes[at]),
                                     at > 0 && indexes[at] == indexes[at - 1] ? "comes twice" : "is out of place"));
        CExtentLine sizes;
        sizes.fileSize = file.fileSize;
        sizes.extentSize = file.extentSize;
        if (indexes.size() != sizes.ExtentCount() || file.bytes != file.fileSize)
            return fail(KxFormat("are %zu extents of %llu bytes, not the %llu extents of %llu bytes the file needs",
                                 indexes.size(), static_cast<unsigned long long>(file.bytes),
                                 static_cast<unsigned long long>(sizes.ExtentCount()),
                                 static_cast<unsigned long long>(file.fileSize)));
        if (!m_containers.contains(key))
            return fail("have no container line");
    }
    return CKxError::Success();
}
