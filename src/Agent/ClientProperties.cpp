#include "Agent/ClientProperties.h"

ClientProperties::ClientProperties(std::shared_ptr<const ClientData> data)
    : m_data(data ? std::move(data) : std::make_shared<const ClientData>())
{
}

CKxError ClientProperties::isLaptopClient(bool& laptop) const
{
    laptop = m_data->laptop;
    return CKxError::Success();
}
