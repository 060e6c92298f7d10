#include "Network/Packet.h"

namespace Corvane3D {

Packet::Packet(uint32_t id)
{
    WriteValue(PACKET_HEADER_MAGIC);
    WriteValue(id);
}

} // namespace Corvane3D
