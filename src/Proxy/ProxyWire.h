#pragma once
// The proxy wire: what the proxy plug-in (libClProxy.so) and the scanner on the client
// (fsproxyclient) say to each other over one TCP connection. docs/proxy-client.md describes it
// for whoever writes another client.
//
// Every message is a frame: one type byte, the payload's length as an unsigned 32-bit
// little-endian number, then the payload. The client speaks first (H), the proxy answers with
// the scan configuration (C); the client then streams items (I), failures (F) and messages (M)
// and ends with D (scan done) or X (scan failed); the proxy closes with Q (job complete).
//
// The proxy reads what a client on another machine sends: every length and count is checked
// against the frame that holds it (CProxyWireReader), never trusted.
#include <cstddef>
#include <cstdint>

namespace ProxyWire {

enum EFrame : std::uint8_t {
    kHello = 'H',          // client: the session token it was started with
    kConfiguration = 'C',  // proxy: name NUL value NUL pairs, in order
    kItems = 'I',          // client: item records (below), one or more
    kFailure = 'F',        // client: one failure line, "<kind> <escaped path>:<code>"
    kMessage = 'M',        // client: a message for the operator (text, may be empty)
    kDone = 'D',           // client: the scan succeeded; payload: items and failures sent (u64 each)
    kFailed = 'X',         // client: the scan failed; its messages say why
    kJobComplete = 'Q',    // proxy: the job is over, the client may exit
};

// An item record: kind byte ('d' folder, 'f' anything else), data size (u64), path length
// (u32), the path's bytes: absolute, without NUL, no trailing '/' (except "/" itself).
inline constexpr char kFolder = 'd';
inline constexpr char kFile = 'f';
inline constexpr std::size_t kFrameHeaderSize = 5;
inline constexpr std::size_t kItemHeaderSize = 13;
// The largest payload either side accepts: a writer fills item frames to kItemsFrameFill.
inline constexpr std::size_t kMaxPayload = 1u << 20;
inline constexpr std::size_t kItemsFrameFill = 64u << 10;
inline constexpr std::size_t kMaxPathLength = 32u << 10;

}  // namespace ProxyWire
