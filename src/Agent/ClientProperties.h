#pragma once
// ClientProperties: properties of the client that change how a scan behaves.
//
// Ownership: shared; immutable after construction. Thread: any thread.
#include <memory>

#include "Agent/Client.h"

class ClientProperties {
public:
    explicit ClientProperties(std::shared_ptr<const ClientData> data);
    virtual ~ClientProperties() = default;

    // The personal-workstation (laptop) flag, "client.laptop".
    virtual CKxError isLaptopClient(bool& laptop) const;

protected:
    std::shared_ptr<const ClientData> m_data;
};

using ClientPropertiesPtr = std::shared_ptr<ClientProperties>;
