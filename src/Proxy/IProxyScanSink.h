#pragma once
// IProxyScanSink: where a proxy scan (ProxyScan.h) delivers what the client sends, and how it
// learns that the job must stop. The scan job implements it.
//
// Thread: called on the thread that called ProxyScan::WaitForScan, one call at a time.
#include "Base/KxError.h"

#include <cstdint>
#include <string_view>

class IProxyScanSink {
public:
    virtual ~IProxyScanSink() = default;
    // One item of the client: `folder` or not, its absolute path, its data size. An error stops
    // the scan with that error.
    [[nodiscard]] virtual CKxError OnItem(bool folder, std::string_view path, std::uint64_t size) = 0;
    // One failure line of the client, as sent ("<kind> <escaped path>:<code>").
    [[nodiscard]] virtual CKxError OnFailure(std::string_view line) = 0;
    // True once the job was told to quit (suspended or killed). Asked a few times a second.
    virtual bool ShouldQuit() = 0;
};
