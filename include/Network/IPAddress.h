#pragma once
// A socket address as the server keeps it: family, port in host order, then the address bytes.

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace Corvane3D {

class CIPAddress {
public:
    CIPAddress() { Clear(); }

    void Clear();
    // `networkOrderAddress` as it sits in an in_addr.
    void SetIPv4(uint32_t networkOrderAddress, uint16_t port);
    void SetIPv6(const in6_addr& address, uint16_t port);

    // 4 or 6; 0 when the address holds nothing.
    int GetIPVersion() const;
    bool IsIPv6() const { return m_family == AF_INET6; }
    uint16_t GetPort() const { return m_port; }

    // The numeric host text, with ":port" (or "[host]:port" for IPv6) when `withPort` is set,
    // cut to fit `size` including the terminator. False when nothing can be formatted.
    bool ToString(char* buffer, size_t size, bool withPort = false) const;
    std::string ToString(bool withPort = false) const;

    uint16_t m_family = 0;
    uint16_t m_port = 0;
    union {
        in_addr v4;
        struct {
            uint32_t flowInfo;
            in6_addr address;
        } v6;
    } m_address;
};

} // namespace Corvane3D
