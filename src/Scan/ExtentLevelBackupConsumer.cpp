#include "Scan/ExtentLevelBackupConsumer.h"

#include "Base/LogWriter.h"
#include "CollectFile/ExtentLine.h"
#include "Engine/FindFirstItem.h"
#include "Engine/RawDeviceItem.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace {
// "<digits>[KMGT]" -> bytes; false for anything else or on overflow.
bool ParseSize(const std::string& text, std::uint64_t& bytes)
{
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])))
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0)
        return false;
    unsigned shift = 0;
    if (*end != '\0') {
        switch (std::toupper(static_cast<unsigned char>(*end))) {
        case 'K': shift = 10; break;
        case 'M': shift = 20; break;
        case 'G': shift = 30; break;
        case 'T': shift = 40; break;
        default: return false;
        }
        if (end[1] != '\0')
            return false;
    }
    if (shift && value > (~0ULL >> shift))
        return false;
    bytes = value << shift;
    return true;
}
}  // namespace

CExtentLevelBackupConsumer::CExtentLevelBackupConsumer(CItemConsumerPtr next, bool hardLinks, std::uint64_t threshold,
                                                       const std::string& slabs, bool enabledExplicitly,
                                                       long long jobId)
    : CItemConsumerChain(std::move(next), jobId),
      m_hardLinks(hardLinks),
      m_threshold(threshold),
      m_slabs(ParseSlabs(slabs)),
      m_enabledExplicitly(enabledExplicitly)
{
}

CExtentLevelBackupConsumer::~CExtentLevelBackupConsumer() = default;

std::map<std::uint64_t, std::uint64_t> CExtentLevelBackupConsumer::ParseSlabs(const std::string& slabs)
{
    std::map<std::uint64_t, std::uint64_t> table;
    size_t start = 0;
    while (start < slabs.size()) {
        const size_t end = std::min(slabs.find_first_of(",; \t\r\n", start), slabs.size());
        const std::string entry = slabs.substr(start, end - start);
        start = end + 1;
        if (entry.empty())
            continue;
        const size_t colon = entry.find(':');
        std::uint64_t largest = 0, extent = 0;
        if (colon == std::string::npos || !ParseSize(entry.substr(0, colon), largest) ||
            !ParseSize(entry.substr(colon + 1), extent) || extent == 0) {
            FSLOG(0, "Ignoring malformed extent slab [%s]", entry.c_str());
            continue;
        }
        table[largest] = extent;
    }
    return table;
}

std::uint64_t CExtentLevelBackupConsumer::ExtentSizeFor(std::uint64_t size) const
{
    auto it = m_slabs.lower_bound(size);
    if (it != m_slabs.end())
        return it->second;
    FSLOG(3, "Failed to find the file extent size for the filesize [%llu], defaulting to 4 MB",
          static_cast<unsigned long long>(size));
    return CExtentLine::kDefaultExtentSize;
}

CKxError CExtentLevelBackupConsumer::Process(const CItemPtr& item)
{
    const auto* found = dynamic_cast<const CFindFirstItem*>(item.get());
    if (!found)
        return CItemConsumerChain::Process(item);
    bool qualified = false;
    std::uint64_t size = 0;
    if (dynamic_cast<const CRawDeviceItem*>(found)) {
        size = found->GetSizeOnDisk();
        qualified = size >= m_threshold;
    } else if (item->IsRegularFile()) {
        size = item->GetFileSize();
        qualified = !item->IsAppleDoubleFile() && (!m_hardLinks || found->GetLinkCount() <= 1) &&
                    item->GetSourceFullyQualifiedItemName().size() <= kMaxSourcePath && size >= m_threshold;
    }
    if (qualified) {
        const std::uint64_t extentSize = ExtentSizeFor(size);
        CBag& bag = item->GetBag();
        (void)bag.Write(CExtentLine::kQualifiedKey, true);
        (void)bag.Write(CExtentLine::kExtentSizeKey, static_cast<unsigned long long>(extentSize));
        (void)bag.Write(CExtentLine::kExplicitlyKey, m_enabledExplicitly);
        FSLOG(5, "Extent qualified file [%s], Extent size [%llu]", item->GetSourceFullyQualifiedItemName().c_str(),
              static_cast<unsigned long long>(extentSize));
    }
    return CItemConsumerChain::Process(item);
}
