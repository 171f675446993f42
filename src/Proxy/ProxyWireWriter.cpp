#include "Proxy/ProxyWireWriter.h"

#include <sys/socket.h>

#include <cerrno>

void CProxyWireWriter::AppendLittleEndian(std::string& out, std::uint64_t value, int width)
{
    for (int at = 0; at < width; ++at, value >>= 8)
        out.push_back(static_cast<char>(value & 0xff));
}

void CProxyWireWriter::AppendItem(std::string& out, char kind, std::string_view path, std::uint64_t size)
{
    out.push_back(kind);
    AppendLittleEndian(out, size, 8);
    AppendLittleEndian(out, path.size(), 4);
    out.append(path);
}

std::string CProxyWireWriter::Frame(ProxyWire::EFrame type, std::string_view payload)
{
    std::string bytes;
    bytes.reserve(ProxyWire::kFrameHeaderSize + payload.size());
    bytes.push_back(static_cast<char>(type));
    AppendLittleEndian(bytes, payload.size(), 4);
    bytes.append(payload);
    return bytes;
}

CKxError CProxyWireWriter::AddItem(char kind, std::string_view path, std::uint64_t size)
{
    AppendItem(m_items, kind, path, size);
    if (m_items.size() >= ProxyWire::kItemsFrameFill)
        return Flush();
    return CKxError::Success();
}

CKxError CProxyWireWriter::Flush()
{
    if (m_items.empty())
        return CKxError::Success();
    std::string frame = Frame(ProxyWire::kItems, m_items);
    m_items.clear();
    return SendAll(frame);
}

CKxError CProxyWireWriter::Send(ProxyWire::EFrame type, std::string_view payload)
{
    KX_RETURN_IF_ERROR(Flush());
    return SendAll(Frame(type, payload));
}

CKxError CProxyWireWriter::SendAll(std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t sent = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            return CKxError::FromErrno(errno, "Failed to send to the proxy connection");
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return CKxError::Success();
}
