#include "Proxy/ProxyWireReader.h"

#include <algorithm>

namespace {

std::uint64_t LittleEndian(const char* bytes, int width)
{
    std::uint64_t value = 0;
    for (int at = width - 1; at >= 0; --at)
        value = value << 8 | static_cast<unsigned char>(bytes[at]);
    return value;
}

bool KnownFrame(std::uint8_t type)
{
    using namespace ProxyWire;
    switch (type) {
    case kHello:
    case kConfiguration:
    case kItems:
    case kFailure:
    case kMessage:
    case kDone:
    case kFailed:
    case kJobComplete: return true;
    default: return false;
    }
}

}  // namespace

void CProxyWireReader::Feed(const char* data, std::size_t size)
{
    if (m_start > 0) {
        m_buffer.erase(0, m_start);
        m_start = 0;
    }
    m_buffer.append(data, size);
}

CKxError CProxyWireReader::Next(SProxyFrame& frame, bool& got)
{
    got = false;
    if (m_broken.IsError())
        return m_broken;
    if (Pending() < ProxyWire::kFrameHeaderSize)
        return CKxError::Success();
    const char* header = m_buffer.data() + m_start;
    const auto type = static_cast<std::uint8_t>(header[0]);
    const std::uint64_t length = LittleEndian(header + 1, 4);
    if (!KnownFrame(type))
        m_broken = CKxError(KxCode::InvalidData, KxFormat("Unknown frame type 0x%02x", type));
    else if (length > ProxyWire::kMaxPayload)
        m_broken = CKxError(KxCode::InvalidData,
                            KxFormat("Frame '%c' of %llu bytes exceeds the limit of %zu", type,
                                     static_cast<unsigned long long>(length), ProxyWire::kMaxPayload));
    if (m_broken.IsError())
        return m_broken;
    if (Pending() - ProxyWire::kFrameHeaderSize < length)
        return CKxError::Success();
    frame.type = type;
    frame.payload = std::string_view(header + ProxyWire::kFrameHeaderSize, length);
    m_start += ProxyWire::kFrameHeaderSize + length;
    got = true;
    return CKxError::Success();
}

CKxError CProxyWireReader::NextItem(std::string_view& records, SProxyItem& item)
{
    if (records.size() < ProxyWire::kItemHeaderSize)
        return CKxError(KxCode::InvalidData, KxFormat("Item record cut short: %zu bytes left", records.size()));
    item.kind = records[0];
    if (item.kind != ProxyWire::kFolder && item.kind != ProxyWire::kFile)
        return CKxError(KxCode::InvalidData, KxFormat("Item of unknown kind 0x%02x", static_cast<unsigned char>(item.kind)));
    item.size = LittleEndian(records.data() + 1, 8);
    const std::uint64_t length = LittleEndian(records.data() + 9, 4);
    if (length > records.size() - ProxyWire::kItemHeaderSize)
        return CKxError(KxCode::InvalidData, KxFormat("Item path of %llu bytes runs past its frame",
                                                      static_cast<unsigned long long>(length)));
    item.path = records.substr(ProxyWire::kItemHeaderSize, length);
    records.remove_prefix(ProxyWire::kItemHeaderSize + length);
    const std::string_view& path = item.path;
    if (path.empty() || path[0] != '/' || path.size() > ProxyWire::kMaxPathLength ||
        path.find('\0') != std::string_view::npos || (path.size() > 1 && path.back() == '/'))
        return CKxError(KxCode::InvalidData, KxFormat("Item path [%.*s] is not an absolute path without NUL",
                                                      static_cast<int>(std::min<std::size_t>(path.size(), 200)),
                                                      path.data()));
    return CKxError::Success();
}

CKxError CProxyWireReader::ParseConfiguration(std::string_view payload,
                                              std::vector<std::pair<std::string, std::string>>& pairs)
{
    pairs.clear();
    while (!payload.empty()) {
        const std::size_t nameEnd = payload.find('\0');
        const std::size_t valueEnd = nameEnd == std::string_view::npos ? nameEnd : payload.find('\0', nameEnd + 1);
        if (valueEnd == std::string_view::npos)
            return CKxError(KxCode::InvalidData, "Configuration pair without its terminating NUL");
        pairs.emplace_back(payload.substr(0, nameEnd), payload.substr(nameEnd + 1, valueEnd - nameEnd - 1));
        payload.remove_prefix(valueEnd + 1);
    }
    return CKxError::Success();
}

CKxError CProxyWireReader::ParseDone(std::string_view payload, std::uint64_t& items, std::uint64_t& failures)
{
    if (payload.size() != 16)
        return CKxError(KxCode::InvalidData, KxFormat("Scan-done frame of %zu bytes, not 16", payload.size()));
    items = LittleEndian(payload.data(), 8);
    failures = LittleEndian(payload.data() + 8, 8);
    return CKxError::Success();
}
