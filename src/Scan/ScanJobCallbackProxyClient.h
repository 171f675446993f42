#pragma once
// CScanJobCallbackProxyClient: the callback of a proxy-client scan (CScanJobProxyClient). It
// is the Unix callback (failure list, output resources, next-phase arguments) plus the result
// of a client scan that succeeded: its time, the client's messages and counts.
//
// Thread: the job's main thread only (a proxy scan has no walker threads).
#include "Base/TimeStamp.h"
#include "Scan/Unix/UnixScanJobCallback.h"

#include <cstdint>
#include <string>
#include <vector>

class CScanJobCallbackProxyClient : public CUnixScanJobCallback {
public:
    std::string AsString() const override { return "ScanJobCallback/ProxyClient"; }

    void setScanResult(CTimeStamp time, std::vector<std::string> messages, std::uint64_t items,
                       std::uint64_t failures)
    {
        m_resultTime = time;
        m_messages = std::move(messages);
        m_items = items;
        m_failures = failures;
    }

private:
    CTimeStamp m_resultTime;
    std::vector<std::string> m_messages;
    std::uint64_t m_items = 0;
    std::uint64_t m_failures = 0;
};
