#include "Scan/AppleDoubleConsumer.h"

#include "Base/LogWriter.h"
#include "Engine/FindFirstItem.h"

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

CAppleDoubleConsumer::CAppleDoubleConsumer(CItemConsumerPtr next, long long jobId)
    : CItemConsumerChain(std::move(next), jobId)
{
}

CAppleDoubleConsumer::~CAppleDoubleConsumer() = default;

bool CAppleDoubleConsumer::IsAppleDoubleFile(const std::string& path)
{
    static constexpr unsigned char kMagic[8] = {0x00, 0x05, 0x16, 0x07, 0x00, 0x02, 0x00, 0x00};
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    unsigned char header[26];
    size_t got = 0;
    while (got < sizeof header) {
        const ssize_t n = ::read(fd, header + got, sizeof header - got);
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    if (got < sizeof header || std::memcmp(header, kMagic, sizeof kMagic) != 0)
        return false;
    return (header[24] << 8 | header[25]) != 0;  // big-endian entry count
}

CKxError CAppleDoubleConsumer::Process(const CItemPtr& item)
{
    if (!dynamic_cast<const CFindFirstItem*>(item.get()))
        return CItemConsumerChain::Process(item);
    const std::string_view name = item->GetItemName();
    const std::string parent = item->GetLocalParentPath();
    const std::string folder = parent == "/" ? parent : parent + "/";
    if (name.size() >= 3 && name.starts_with(kPrefix)) {
        struct stat status {};
        const std::string companionOf = folder + std::string(name.substr(2));
        if (IsAppleDoubleFile(item->GetLocalFullyQualifiedItemName()) && ::lstat(companionOf.c_str(), &status) == 0) {
            FSLOG(5, "AppleDouble file '%s' goes with its file", item->GetSourceFullyQualifiedItemName().c_str());
            return CKxError::Success();
        }
        return CItemConsumerChain::Process(item);
    }
    if (IsAppleDoubleFile(folder + kPrefix + std::string(name)))
        item->SetAppleDoubleFile(true);
    return CItemConsumerChain::Process(item);
}
