#pragma once
// CProxyWireWriter: writes the proxy wire (ProxyWire.h) to a connected socket.
//
// Items are gathered into one frame until it holds kItemsFrameFill bytes, so that a walk of a
// million items costs some thousand sends, not a million. Any other frame first sends the items
// gathered before it, which keeps the order the reader sees equal to the order of the calls.
// A send that fails (the peer went away) is an error value naming the cause; SIGPIPE is never
// raised.
//
// Thread: one owner. The descriptor stays the caller's.
#include "Base/KxError.h"
#include "Proxy/ProxyWire.h"

#include <cstdint>
#include <string>
#include <string_view>

class CProxyWireWriter {
public:
    explicit CProxyWireWriter(int fd) : m_fd(fd) {}

    [[nodiscard]] CKxError AddItem(char kind, std::string_view path, std::uint64_t size);
    // Sends the gathered items, then the frame.
    [[nodiscard]] CKxError Send(ProxyWire::EFrame type, std::string_view payload);
    [[nodiscard]] CKxError Flush();

    // The bytes of one frame, as sent.
    static std::string Frame(ProxyWire::EFrame type, std::string_view payload);
    // The bytes of one item record, as gathered.
    static void AppendItem(std::string& out, char kind, std::string_view path, std::uint64_t size);
    static void AppendLittleEndian(std::string& out, std::uint64_t value, int width);

private:
    [[nodiscard]] CKxError SendAll(std::string_view bytes);

    int m_fd;
    std::string m_items;  // records of the frame being gathered
};
