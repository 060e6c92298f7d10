#include "Network/Packet.h"

namespace Corvane3D {

namespace {

void PutUInt32LE(unsigned char (&bytes)[PACKET_HEADER_SIZE], size_t offset, uint32_t value)
{
    for (size_t i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

} // namespace

Packet::Packet(uint32_t id)
{
    unsigned char header[PACKET_HEADER_SIZE];
    PutUInt32LE(header, 0, PACKET_HEADER_MAGIC);
    PutUInt32LE(header, 4, id);
    Write(header, sizeof header);
}

} // namespace Corvane3D
