// The proxy wire as a client on another host may send it: fed in pieces of varying size, every
// frame taken apart; every item record that reads back is written again to the same bytes.
#include "Proxy/ProxyWireReader.h"
#include "Proxy/ProxyWireWriter.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t piece = 1 + data[0] % 64;  // the first byte picks how the socket splits the rest
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const std::size_t length = size - 1;
    CProxyWireReader reader;
    for (std::size_t at = 0; at < length; at += piece) {
        reader.Feed(bytes + at, std::min(piece, length - at));
        SProxyFrame frame;
        bool got = true;
        while (got) {
            if (reader.Next(frame, got).IsError())
                return 0;
            if (!got)
                break;
            if (frame.type == ProxyWire::kItems) {
                std::string_view rest = frame.payload;
                while (!rest.empty()) {
                    const std::string_view before = rest;
                    SProxyItem item;
                    if (CProxyWireReader::NextItem(rest, item).IsError())
                        break;
                    std::string again;
                    CProxyWireWriter::AppendItem(again, item.kind, item.path, item.size);
                    if (again != before.substr(0, before.size() - rest.size()))
                        std::abort();
                }
            } else if (frame.type == ProxyWire::kConfiguration) {
                std::vector<std::pair<std::string, std::string>> pairs;
                (void)CProxyWireReader::ParseConfiguration(frame.payload, pairs);
            } else if (frame.type == ProxyWire::kDone) {
                std::uint64_t items = 0, failures = 0;
                (void)CProxyWireReader::ParseDone(frame.payload, items, failures);
            }
        }
    }
    return 0;
}
