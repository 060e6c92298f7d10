#pragma once
// A net machine: the server's record of one connected game client (or of the server console),
// with its identity, its player element, its flags and the per-client data scripts keep on it.

#include "Engine/BaseObject.h"
#include "Engine/CorvaneArguments.h"
#include "Engine/CorvaneReference.h"
#include "Network/IPAddress.h"
#include "Network/NetPeer.h"
#include "Network/Packet.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace Corvane3D {

class CBinaryWriter;
class CNetObjectMgr;

// Messages about machines, each with the message header.
enum eNetMachineMessage : uint32_t {
    NETMACHINE_MESSAGE_LOCAL_PLAYER = 5,
    NETMACHINE_MESSAGE_DATA = 24,
    NETMACHINE_MESSAGE_DATA_CLEARED = 25,
    NETMACHINE_MESSAGE_PLAYER = 26,
    NETMACHINE_MESSAGE_FLAGS = 34,
};

class CNetMachine : public CBaseObject {
public:
    static constexpr uint8_t FlagAdministrator = 1;
    static constexpr uint8_t FlagConsole = 2;

    // Takes its script class from the manager; the manager must outlive every use that sends.
    explicit CNetMachine(CNetObjectMgr* manager);

    CNetObjectMgr* GetManager() const { return m_pManager; }

    const CIPAddress& GetAddress() const { return m_address; }
    void SetAddress(const CIPAddress& address) { m_address = address; }
    // The null handle for the console and for a client that has left.
    NetPeer GetPeer() const { return m_peer; }
    void SetPeer(NetPeer peer) { m_peer = peer; }
    const std::string& GetGameName() const { return m_gameName; }
    void SetGameName(std::string name) { m_gameName = std::move(name); }
    int32_t GetGame() const { return m_game; }
    void SetGame(int32_t game) { m_game = game; }
    // 0 to 255 while in a slot; -1 before and after.
    int32_t GetIndex() const { return m_index; }
    void SetIndex(int32_t index) { m_index = index; }
    const std::string& GetName() const { return m_name; }
    void SetName(std::string name) { m_name = std::move(name); }

    bool IsJoined() const { return m_bJoined; }
    void SetJoined(bool joined) { m_bJoined = joined; }
    bool IsAdministrator() const { return m_bAdministrator; }
    // Stores the flag; the script property also tells everyone (SendUpdate) when it changes.
    void SetAdministrator(bool administrator) { m_bAdministrator = administrator; }
    bool IsConsole() const { return m_bConsole; }
    void SetConsole(bool console) { m_bConsole = console; }
    bool IsStreamingEnabled() const { return m_bStreamingEnabled; }
    void SetStreamingEnabled(bool enabled) { m_bStreamingEnabled = enabled; }
    // Set while the server runs the client's departure, so that a script reacting to the quit
    // cannot start it a second time.
    bool IsDeparting() const { return m_bDeparting; }
    void SetDeparting(bool departing) { m_bDeparting = departing; }

    // Bit 0 administrator, bit 1 console.
    uint8_t GetFlags() const;

    // To this machine's peer; nothing for the console, without a peer, or without a transport.
    bool SendPacket(const Packet& packet, ePacketPriority priority, ePacketFlags flags, uint8_t channel);

    // The player element, looked up by its id; null when there is none.
    CBaseObject* GetPlayer();
    int32_t GetPlayerId() const { return m_playerId; }
    // Makes the element (or none) this client's player, names it after the client, tells
    // everyone (message 26) and the client itself (SendPlayer).
    void SetPlayer(CBaseObject* element);
    // Message 5 to a joined client: its player's id when that element exists on the client, else -1.
    void SendPlayer();
    // Message 34 with the flags, to everyone.
    void SendUpdate();

    // Stores a clone of the value (nil removes the key); with `sync`, tells everyone first
    // (message 24). False, with nothing stored or sent, for a value that cannot be stored.
    bool SetData(std::string_view key, const CArgument* value, bool sync);
    // Borrowed; null when absent.
    CArgument* GetData(std::string_view key) const;
    // Tells everyone (message 24 without a value) only when the key existed.
    bool RemoveData(std::string_view key);
    // Empties the store and tells everyone (message 25).
    void ClearData();
    const CArgumentMap& GetDataMap() const { return *m_pData; }

    // The client record: flags, game, player id, name and the data block. False as soon as
    // anything cannot be written; the stream then holds a partial record.
    bool Write(Stream* stream) const;

    // The data block: UInt16 entry count, then per entry String key, UInt8 type id, payload.
    // False for more entries than a UInt16 counts or a value without a wire form.
    static bool WriteDataBlock(CBinaryWriter& writer, const CArgumentMap& data);

protected:
    ~CNetMachine() override;

private:
    bool BroadcastData(std::string_view key, const CArgument* value);

    CNetObjectMgr* m_pManager;
    CIPAddress m_address;
    NetPeer m_peer;
    std::string m_gameName;
    int32_t m_game = -1;
    int32_t m_index = -1;
    std::string m_name;
    Weak<CBaseObject> m_pPlayer;
    int32_t m_playerId = -1;
    Strong<CArgumentMap> m_pData;
    bool m_bJoined = false;
    bool m_bAdministrator = false;
    bool m_bConsole = false;
    bool m_bStreamingEnabled = true;
    bool m_bDeparting = false;
};

} // namespace Corvane3D
