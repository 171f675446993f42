#pragma once
// CProxyWireReader: takes the proxy wire (ProxyWire.h) apart.
//
// Bytes arrive as the socket gives them (Feed); Next hands out each whole frame as soon as it is
// there, so the reader never blocks and its owner can poll the socket, the client process and
// the job's quit flag in one loop. The static members decode the payloads of the frames that have
// a structure. Everything read is outside input: an unknown frame type, a length beyond
// kMaxPayload, a record running past its frame, a path that is not absolute or holds a NUL is
// an error value (code 13) naming what was wrong and where, never a crash or a wrong item.
//
// Thread: one owner; the static members are pure.
#include "Base/KxError.h"
#include "Proxy/ProxyWire.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct SProxyFrame {
    std::uint8_t type = 0;
    std::string_view payload;  // valid until the next Feed or Next
};

struct SProxyItem {
    char kind = ProxyWire::kFile;
    std::uint64_t size = 0;
    std::string_view path;  // points into the frame's payload
};

class CProxyWireReader {
public:
    void Feed(const char* data, std::size_t size);
    // The next whole frame into `frame` and `got` true; `got` false when its bytes are not all
    // there yet. A malformed header fails, and so does every later call.
    [[nodiscard]] CKxError Next(SProxyFrame& frame, bool& got);
    // Bytes received and not yet handed out (a connection that ends with some ends mid-frame).
    std::size_t Pending() const { return m_buffer.size() - m_start; }

    // Takes the first item record off `records` into `item`.
    [[nodiscard]] static CKxError NextItem(std::string_view& records, SProxyItem& item);
    [[nodiscard]] static CKxError ParseConfiguration(std::string_view payload,
                                                     std::vector<std::pair<std::string, std::string>>& pairs);
    [[nodiscard]] static CKxError ParseDone(std::string_view payload, std::uint64_t& items, std::uint64_t& failures);

private:
    std::string m_buffer;
    std::size_t m_start = 0;  // the first byte not handed out
    CKxError m_broken;        // the stream's first malformed header, kept
};
