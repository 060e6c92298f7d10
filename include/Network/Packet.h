#pragma once
// Outgoing game messages and the options they are sent with.

#include "Engine/Stream.h"

#include <cstddef>
#include <cstdint>

namespace Corvane3D {

// Travels with a queued packet; ENet sends every priority alike.
enum ePacketPriority : uint32_t {
    PACKET_PRIORITY_IMMEDIATE = 0,
    PACKET_PRIORITY_HIGH = 1,
    PACKET_PRIORITY_MEDIUM = 2,
    PACKET_PRIORITY_LOW = 3,
};

// A send without PACKET_FLAG_RELIABLE is unreliable but sequenced.
enum ePacketFlags : uint32_t {
    PACKET_FLAG_NONE = 0,
    PACKET_FLAG_RELIABLE = 1,
    PACKET_FLAG_UNSEQUENCED = 2,
    // Every connected peer instead of one.
    PACKET_FLAG_EVERYONE = 4,
};

constexpr ePacketFlags operator|(ePacketFlags a, ePacketFlags b)
{
    return ePacketFlags(uint32_t(a) | uint32_t(b));
}

// Every message between a game client and the server begins with this value and the message id,
// both UInt32.
constexpr uint32_t PACKET_HEADER_MAGIC = 0x54523402;
constexpr size_t PACKET_HEADER_SIZE = 8;

// An outgoing message: its bytes from the start up to the length (not the position) are sent.
class Packet : public CUnlimitedStream {
public:
    // A scratch buffer with no header.
    Packet() = default;
    // A message: the header is written at once and the caller writes the body after it.
    explicit Packet(uint32_t id);
};

} // namespace Corvane3D
