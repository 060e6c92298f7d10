#pragma once
// Every setting of server.xml, with its default, as the server holds it after parsing.

#include "Engine/Password.h"
#include "Network/Packet.h"

#include <cstdint>
#include <string>
#include <vector>

enum eSyncMethod : uint8_t {
    SYNC_METHOD_NONE = 0,
    SYNC_METHOD_INTERVAL = 1,
    SYNC_METHOD_REPLAY = 2,
};

// Text settings are held in 64-byte fields: at most 63 characters.
constexpr size_t MaxSettingText = 63;

// The listing service announced to when server.xml names none. This project runs no public
// listing service, so there is none: an owner who turns on "serverbrowser" names the host.
constexpr const char* DefaultServerListingHost = "";

struct CServerSettings {
    std::string m_logPath = "logs/ServerLog.log";
    std::string m_logTimeStamp = "%d/%m/%Y - %X";
    std::string m_bindIP;
    std::string m_serverName;
    std::string m_gameMode;
    std::string m_serverListingURL = DefaultServerListingHost;
    bool m_serverBrowser = false;
    int m_maxPlayers = 32;
    bool m_serverQuery = true;
    uint16_t m_port = 22000;
    uint16_t m_httpPort = 22000;
    std::string m_httpURL;
    uint16_t m_rconPort = 23000;
    bool m_httpServer = true;
    bool m_rcon = false;
    Corvane3D::CStoredPassword m_rconPassword;
    uint16_t m_syncInterval = 30;
    eSyncMethod m_syncMethod = SYNC_METHOD_INTERVAL;
    Corvane3D::ePacketPriority m_syncPacketPriority = Corvane3D::PACKET_PRIORITY_LOW;
    uint32_t m_syncPacketFlags = 0;
    bool m_duplicateNames = false;
    bool m_multithreaded = true;
    uint32_t m_minClientVersion[4] = {1, 0, 0, 0};
    Corvane3D::CStoredPassword m_password;
    std::string m_game = "rova:iii";
    int m_gameId = 1;
    float m_streamInDistance = 100.0f;
    float m_streamOutDistance = 200.0f;
    uint16_t m_streamInterval = 1000;

    // Kept by the game class.
    bool m_syncLocalEntities = false;
    float m_pickupStreamInDistance = 50.0f;
    float m_pickupStreamOutDistance = 100.0f;
    bool m_timeSync = true;
    bool m_weatherSync = true;
    bool m_ivNativeMultiplayer = false;
    int m_ivGameMode = 8;
    int m_ivEpisode = -1;
    float m_minuteDuration = 1.0f;
};
