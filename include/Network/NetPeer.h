#pragma once
// The server's handle for one connection.

#include <cstddef>
#include <cstdint>
#include <functional>

namespace Corvane3D {

// Names one connection for the life of the transport. Values are never handed out twice, so a
// handle kept after its client left addresses no one, not the next client that happens to land
// in the same ENet peer slot. The zero handle names no connection.
struct NetPeer {
    uint64_t id = 0;

    explicit operator bool() const { return id != 0; }
    friend bool operator==(NetPeer, NetPeer) = default;
};

} // namespace Corvane3D

template <>
struct std::hash<Corvane3D::NetPeer> {
    size_t operator()(Corvane3D::NetPeer peer) const noexcept { return std::hash<uint64_t>{}(peer.id); }
};
