#pragma once
// Why a connection ended: sent to the client as the transport's 32-bit disconnect data, and
// handed to scripts with the quit event.

#include <cstdint>

namespace Corvane3D {

enum eDisconnectReason : uint32_t {
    // The transport reports 0 for a peer that timed out.
    DISCONNECT_TIMEOUT = 0,
    DISCONNECT_FULL = 1,
    DISCONNECT_UNSUPPORTEDCLIENT = 2,
    DISCONNECT_UNSUPPORTEDENGINE = 3,
    DISCONNECT_WRONGPASSWORD = 4,
    DISCONNECT_UNSUPPORTEDEXECUTABLE = 5,
    DISCONNECT_GRACEFUL = 6,
    DISCONNECT_BANNED = 7,
    DISCONNECT_FAILED = 8,
    DISCONNECT_INVALIDNICKNAME = 9,
    DISCONNECT_CRASH = 10,
    DISCONNECT_PUBLICKEYMISMATCH = 11,
    DISCONNECT_NICKNAMEINUSE = 12,
    DISCONNECT_KICKED = 13,
    DISCONNECT_ANTICHEAT = 14,
};

} // namespace Corvane3D
