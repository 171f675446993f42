#pragma once
// CScanJobCallbackProxyClient: the callback of a proxy-client scan (CScanJobProxyClient). It
// is the Unix callback (failure list, output resources, next-phase arguments) plus what the
// client's scan reported: its time, messages and counts.
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
        m_hasResult = true;
    }

    bool HasScanResult() const { return m_hasResult; }
    CTimeStamp GetScanResultTime() const { return m_resultTime; }
    const std::vector<std::string>& GetScanMessages() const { return m_messages; }
    std::uint64_t GetScannedItems() const { return m_items; }
    std::uint64_t GetScanFailures() const { return m_failures; }

private:
    bool m_hasResult = false;
    CTimeStamp m_resultTime;
    std::vector<std::string> m_messages;
    std::uint64_t m_items = 0;
    std::uint64_t m_failures = 0;
};
