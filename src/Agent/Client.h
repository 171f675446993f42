#pragma once
// Client: the client part of an application configuration ("client" object).
//
// Queries are virtual so that tests can derive failing ones.
// Ownership: shared; immutable after construction. Thread: any thread.
#include <cstdint>
#include <memory>
#include <string>

#include "Base/KxError.h"

struct ClientData {
    uint64_t id = 0;
    std::string name;
    bool laptop = false;         // personal-workstation flag
    std::string baseVersion;     // release text, e.g. "Release 11"
    bool quillbox = false;
    int proxyClientId = 0;
    std::string jobResultsDir;   // "" = <instance>/JobResults
};

class Client {
public:
    explicit Client(std::shared_ptr<const ClientData> data);
    virtual ~Client() = default;

    virtual CKxError getClientId(uint64_t& id) const;
    virtual CKxError getClientName(std::string& name) const;
    virtual CKxError isQuillboxClient(bool& quillbox) const;
    // The proxy client of application type 38; 0 when none is configured.
    virtual CKxError getOpenVMSProxyClientId(int& proxyClientId) const;
    virtual CKxError getBaseVersion(std::string& text) const;
    // The configured folder, or <instance>/JobResults when none is configured.
    virtual CKxError getJobResultsDir(std::string& folder) const;

    const ClientData& Data() const { return *m_data; }

protected:
    std::shared_ptr<const ClientData> m_data;
};

using ClientPtr = std::shared_ptr<Client>;
