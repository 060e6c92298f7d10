// The connection lifecycle driven through the message handlers with a recording transport:
// join checks, acceptance, the anticheat gate, ready, quit and departure.

#include "Multiplayer/MultiplayerTestSupport.h"

#include "PasswordThrottle.h"
#include "RovaServer.h"

#include "Engine/FileSystem.h"
#include "Engine/LambdaFunction.h"
#include "Engine/MD5Hash.h"
#include "Multiplayer/DisconnectReason.h"
#include "Scripting/EventHandlers.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace MultiplayerTest;

namespace {

using Sent = CRecordingSender::Sent;

struct LogLine {
    int level;
    std::string text;
};

struct tJoin {
    std::string nickname = "Ann";
    std::string password;
    uint8_t game = 1;
    uint32_t version[4] = {1, 0, 0, 0};
    uint32_t networkVersion = 0;
    // Set to send these bytes as the nickname instead, with their own length.
    std::optional<std::string> rawName;
    std::optional<uint16_t> nameLength;
};

Bytes JoinRequest(const tJoin& join)
{
    Packet body;
    CBinaryWriter writer(&body);
    writer.WriteUInt32(join.networkVersion);
    writer.WriteUInt32(join.version, 4);
    writer.WriteString(join.password);
    const std::string& name = join.rawName ? *join.rawName : join.nickname;
    writer.WriteUInt16(join.nameLength ? *join.nameLength : uint16_t(name.size()));
    writer.Write(name.data(), name.size());
    writer.WriteUInt8(join.game);
    return Bytes(body.GetData(), body.GetData() + body.GetSize());
}

Bytes Digests(const std::vector<CMD5Hash::Digest>& digests)
{
    Packet body;
    CBinaryWriter writer(&body);
    writer.WriteUInt32(uint32_t(digests.size()));
    for (const CMD5Hash::Digest& digest : digests)
        writer.Write(digest.data(), digest.size());
    return Bytes(body.GetData(), body.GetData() + body.GetSize());
}

struct ConnectionFixture : ::testing::Test, ILogListener {
    ConnectionFixture()
    {
        context.SetConsole(nullptr);
        context.SetLogListener(this);
        GGlobal.m_pContext = &context;
        Reset();
    }
    ~ConnectionFixture() override
    {
        server.reset();
        GGlobal.m_pContext = nullptr;
    }

    // A fresh server with the console client, as after start-up.
    void Reset()
    {
        server.reset();
        sender.sent.clear();
        sender.disconnected.clear();
        lines.clear();
        server = std::make_unique<CRovaServer>(sender);
        server->CreateConsoleClient();
    }

    void OnLogLine(int level, const char* text) override { lines.push_back({level, text}); }
    bool Logged(int level, const std::string& text) const
    {
        for (const LogLine& line : lines) {
            if (line.level == level && line.text == text)
                return true;
        }
        return false;
    }

    NetPeer Connect()
    {
        const NetPeer peer{++lastPeer};
        server->OnConnect(peer);
        return peer;
    }
    void Send(NetPeer peer, uint32_t id, const Bytes& body = {})
    {
        Packet message(id);
        message.Write(body.data(), body.size());
        // A heap copy of exactly the message's size: a read past its end is a sanitizer report.
        auto copy = std::make_unique<uint8_t[]>(message.GetSize());
        std::copy(message.GetData(), message.GetData() + message.GetSize(), copy.get());
        server->PacketEvent(peer, copy.get(), message.GetSize());
    }
    NetPeer Join(const tJoin& join)
    {
        const NetPeer peer = Connect();
        Send(peer, 1, JoinRequest(join));
        return peer;
    }
    NetPeer Join(const std::string& nickname)
    {
        tJoin join;
        join.nickname = nickname;
        return Join(join);
    }
    // Joined, verified (no anticheat files) and ready.
    NetPeer JoinReady(const std::string& nickname)
    {
        const NetPeer peer = Join(nickname);
        Send(peer, 149, Digests({}));
        Send(peer, 3);
        return peer;
    }
    CNetMachine* ClientOf(NetPeer peer) { return server->GetMachines().GetMachineFromPeer(peer); }
    std::optional<uint32_t> DisconnectReasonOf(NetPeer peer) const
    {
        for (const auto& [who, reason] : sender.disconnected) {
            if (who == peer)
                return reason;
        }
        return std::nullopt;
    }

    // Records the arguments every raise of an event passes after the event object.
    std::vector<Strong<CArgumentArray>>& Watch(const char* event)
    {
        auto& seen = watched[event];
        seen.clear();
        auto handler = MakeStrong<CLambdaFunction>([&seen](const CArgumentArray& arguments, CReturnValue*) {
            auto copy = MakeStrong<CArgumentArray>();
            for (size_t i = 1; i < arguments.GetArrayCount(); ++i)
                copy->Add(arguments.GetAt(i));
            seen.push_back(copy);
            return true;
        });
        AddHandler(event, handler);
        return seen;
    }
    void AddHandler(const char* event, Strong<CLambdaFunction> handler)
    {
        server->GetEventHandlers()->GetEventType(event)->AddHandler(
            MakeStrong<EventHandlers::CScriptEventHandler>(handler.Get()), nullptr);
    }

    Context context;
    CRecordingSender sender;
    std::unique_ptr<CRovaServer> server;
    std::vector<LogLine> lines;
    std::map<std::string, std::vector<Strong<CArgumentArray>>> watched;
    uint64_t lastPeer = 0;
};

} // namespace

TEST_F(ConnectionFixture, EachJoinCheckRefusesWithItsLogLineAndReason)
{
    struct Case {
        const char* what;
        std::function<void(ConnectionFixture&)> setup;
        tJoin join;
        std::string line;
        uint32_t reason;
    };
    auto named = [](std::string name) {
        tJoin join;
        join.nickname = std::move(name);
        return join;
    };
    tJoin network = named("Ann");
    network.networkVersion = 1;
    tJoin old = named("Ann");
    old.version[0] = 0;
    old.version[1] = old.version[2] = old.version[3] = 9;
    tJoin wrongPassword = named("Ann");
    wrongPassword.password = "guess";
    tJoin wrongGame = named("Zed");
    wrongGame.game = 3;
    tJoin nulLed = named("");
    nulLed.rawName = std::string("\0abc", 4);
    tJoin lineFeed = named("Eve\nCONNECT: fake");
    auto none = [](ConnectionFixture&) {};

    const Case cases[] = {
        {"a banned address", [](ConnectionFixture& f) { f.server->GetBanList().Ban("127.0.0.1", 0); }, named("Ann"),
         "CONNECT: 127.0.0.1 revoked connection [BANNED]", DISCONNECT_BANNED},
        {"another network version", none, network, "CONNECT: 127.0.0.1 (1) revoked connection [UNSUPPORTED CLIENT]",
         DISCONNECT_UNSUPPORTEDCLIENT},
        {"a client version below the minimum", none, old, "CONNECT: 127.0.0.1 revoked connection [UNSUPPORTED CLIENT]",
         DISCONNECT_UNSUPPORTEDCLIENT},
        {"a wrong password",
         [](ConnectionFixture& f) { f.server->GetSettings().m_password = CStoredPassword::Make("secret", 4); },
         wrongPassword, "CONNECT: 127.0.0.1 revoked connection [WRONG PASSWORD]", DISCONNECT_WRONGPASSWORD},
        {"an empty nickname", none, named(""), "CONNECT: 127.0.0.1 revoked connection [INVALID NICKNAME]",
         DISCONNECT_INVALIDNICKNAME},
        {"a nickname of 32 bytes", none, named(std::string(32, 'n')),
         "CONNECT: 127.0.0.1 revoked connection [INVALID NICKNAME]", DISCONNECT_INVALIDNICKNAME},
        {"a nickname that begins with NUL", none, nulLed, "CONNECT: 127.0.0.1 revoked connection [INVALID NICKNAME]",
         DISCONNECT_INVALIDNICKNAME},
        // Hazard: a line feed in a nickname would forge log lines.
        {"a nickname with a control character", none, lineFeed,
         "CONNECT: 127.0.0.1 revoked connection [INVALID NICKNAME]", DISCONNECT_INVALIDNICKNAME},
        {"another game", none, wrongGame, "CONNECT: Zed revoked connection [WRONG GAME]",
         DISCONNECT_UNSUPPORTEDENGINE},
        {"a nickname taken in another case", [](ConnectionFixture& f) { f.Join("ann"); }, named("ANN"),
         "CONNECT: ANN revoked connection [NICKNAME IN USE]", DISCONNECT_NICKNAMEINUSE},
        {"the console's name", none, named("console"), "CONNECT: console revoked connection [NICKNAME IN USE]",
         DISCONNECT_NICKNAMEINUSE},
        {"a full server",
         [](ConnectionFixture& f) {
             f.server->GetSettings().m_maxPlayers = 1;
             f.Join("First");
         },
         named("Second"), "CONNECT: Second revoked connection [SERVER FULL]", DISCONNECT_FULL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        c.setup(*this);
        const size_t clientsBefore = server->GetPlayerCount();
        const NetPeer peer = Join(c.join);
        EXPECT_EQ(DisconnectReasonOf(peer), c.reason);
        EXPECT_TRUE(Logged(LOG_WARN, c.line)) << "missing: " << c.line;
        EXPECT_EQ(ClientOf(peer), nullptr);
        EXPECT_EQ(server->GetPlayerCount(), clientsBefore);
        EXPECT_TRUE(sender.SentTo(peer).empty());
    }
}

TEST_F(ConnectionFixture, JoinsAtTheLimitsOfEachCheckAreAccepted)
{
    struct Case {
        const char* what;
        std::function<void(ConnectionFixture&)> setup;
        tJoin join;
    };
    tJoin equal;
    equal.version[0] = 1;
    equal.version[1] = 5;
    tJoin newer;
    newer.version[0] = 2;
    newer.version[1] = 0;
    tJoin longest;
    longest.nickname = std::string(31, 'x');
    tJoin anyPassword;
    anyPassword.password = "whatever";
    tJoin highBit;
    highBit.nickname = "J\xC3\xBCrgen";
    const uint32_t minimum[4] = {1, 5, 0, 0};
    auto raiseMinimum = [minimum](ConnectionFixture& f) {
        std::copy(minimum, minimum + 4, f.server->GetSettings().m_minClientVersion);
    };
    const Case cases[] = {
        {"a client version equal to the minimum", raiseMinimum, equal},
        {"a newer major version whatever the later parts", raiseMinimum, newer},
        {"a nickname of 31 bytes", [](ConnectionFixture&) {}, longest},
        {"any password when the server has none", [](ConnectionFixture&) {}, anyPassword},
        {"a UTF-8 nickname", [](ConnectionFixture&) {}, highBit},
        {"a taken nickname with duplicate names on",
         [](ConnectionFixture& f) {
             f.server->GetSettings().m_duplicateNames = true;
             f.Join("Ann");
         },
         tJoin{}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        c.setup(*this);
        const NetPeer peer = Join(c.join);
        EXPECT_FALSE(DisconnectReasonOf(peer));
        ASSERT_NE(ClientOf(peer), nullptr);
        EXPECT_EQ(ClientOf(peer)->GetName(), c.join.nickname);
    }
}

// Hazard: fields after the end of a short request would otherwise be read as whatever was there.
TEST_F(ConnectionFixture, AJoinRequestCutShortIsRefusedByTheCheckThatMeetsTheMissingField)
{
    tJoin join;
    join.nickname = "Ann";
    const Bytes full = JoinRequest(join);
    // network version 4, client version 16, password 1, name length 2, name 3, game 1.
    struct Case {
        size_t length;
        uint32_t reason;
    };
    const Case cases[] = {
        {0, DISCONNECT_UNSUPPORTEDCLIENT}, {3, DISCONNECT_UNSUPPORTEDCLIENT}, {4, DISCONNECT_UNSUPPORTEDCLIENT},
        {19, DISCONNECT_UNSUPPORTEDCLIENT}, {20, DISCONNECT_WRONGPASSWORD},   {21, DISCONNECT_INVALIDNICKNAME},
        {22, DISCONNECT_INVALIDNICKNAME},   {25, DISCONNECT_INVALIDNICKNAME}, {26, DISCONNECT_UNSUPPORTEDENGINE},
    };
    ASSERT_EQ(full.size(), 27u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        const NetPeer peer = Connect();
        Send(peer, 1, Bytes(full.begin(), full.begin() + std::ptrdiff_t(c.length)));
        EXPECT_EQ(DisconnectReasonOf(peer), c.reason);
        EXPECT_EQ(ClientOf(peer), nullptr);
    }
    // A password whose length runs past the message, and a nickname longer than its bytes.
    Bytes badPassword(full.begin(), full.begin() + 20);
    badPassword.push_back(0x50);
    badPassword.insert(badPassword.end(), {'a', 'b'});
    const NetPeer peer = Connect();
    Send(peer, 1, badPassword);
    EXPECT_EQ(DisconnectReasonOf(peer), DISCONNECT_WRONGPASSWORD);
    tJoin shortName;
    shortName.rawName = "Bo";
    shortName.nameLength = 9;
    EXPECT_EQ(DisconnectReasonOf(Join(shortName)), DISCONNECT_INVALIDNICKNAME);
}

TEST_F(ConnectionFixture, AnAcceptedClientReceivesTheJoinMessagesInOrderWithTheirFields)
{
    CServerSettings& s = server->GetSettings();
    s.m_httpPort = 8080;
    s.m_httpURL = "files.example";
    s.m_syncInterval = 40;
    s.m_syncMethod = SYNC_METHOD_REPLAY;
    s.m_gameMode = "Freeroam";
    s.m_serverName = "Unit server";
    s.m_maxPlayers = 16;
    server->GetCVars().Set("weather", "sunny");
    size_t sentWhenJoinRaised = 99;
    AddHandler("OnPlayerJoin", MakeStrong<CLambdaFunction>([&](const CArgumentArray&, CReturnValue*) {
                   sentWhenJoinRaised = sender.sent.size();
                   return true;
               }));
    auto& joins = Watch("OnPlayerJoin");

    const NetPeer peer = Join("Ann");
    CNetMachine* client = ClientOf(peer);
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->GetIndex(), 0);
    EXPECT_EQ(client->GetGameName(), "rova:iii");
    EXPECT_FALSE(client->IsStreamingEnabled());
    EXPECT_FALSE(client->IsJoined());
    EXPECT_EQ(server->GetPlayerCount(), 1u);
    EXPECT_EQ(server->GetJoinedPlayerCount(), 0u);
    ASSERT_EQ(joins.size(), 1u);
    EXPECT_EQ(joins[0]->GetAt(0)->ToObject(), client);
    EXPECT_EQ(sentWhenJoinRaised, 0u) << "OnPlayerJoin comes before the first message";
    EXPECT_TRUE(Logged(LOG_INFO, "CONNECT: 127.0.0.1 is attempting to connect"));

    const std::vector<Sent> sent = sender.SentTo(peer);
    ASSERT_EQ(sender.IdsTo(peer), (std::vector<uint32_t>{149, 30, 2, 17, 29, 19}));
    for (const Sent& message : sent) {
        EXPECT_EQ(message.priority, PACKET_PRIORITY_LOW);
        EXPECT_EQ(message.flags, PACKET_FLAG_RELIABLE);
        EXPECT_EQ(message.channel, 0);
    }
    BodyReader files(sent[0].body);
    EXPECT_EQ(files.Read<uint32_t>(), 0u);
    BodyReader cvars(sent[1].body);
    EXPECT_EQ(cvars.Read<uint16_t>(), 1);

    BodyReader accepted(sent[2].body);
    EXPECT_EQ(accepted.Read<int32_t>(), 0);
    EXPECT_EQ(accepted.Read<uint16_t>(), 8080);
    EXPECT_EQ(accepted.Read<std::string>(), "files.example");
    EXPECT_EQ(accepted.Read<uint16_t>(), 40);
    EXPECT_EQ(accepted.Read<uint8_t>(), 0);
    EXPECT_EQ(accepted.Read<uint8_t>(), SYNC_METHOD_REPLAY);
    EXPECT_TRUE(accepted.AtEnd());
    EXPECT_EQ(BodyReader(sent[3].body).Read<std::string>(), "Freeroam");
    EXPECT_EQ(BodyReader(sent[4].body).Read<std::string>(), "Unit server");

    BodyReader list(sent[5].body);
    EXPECT_EQ(list.Read<uint16_t>(), 2) << "the client itself and the console";
    EXPECT_EQ(list.Read<uint16_t>(), 16);
    EXPECT_EQ(list.Read<int32_t>(), 0);
    EXPECT_EQ(list.Read<uint8_t>(), 0);
    EXPECT_EQ(list.Read<int8_t>(), 1);
    EXPECT_EQ(list.Read<int32_t>(), -1);
    EXPECT_EQ(list.Read<std::string>(), "Ann");
    EXPECT_EQ(list.Read<uint16_t>(), 0);
    EXPECT_EQ(list.Read<int32_t>(), 255);
    EXPECT_EQ(list.Read<uint8_t>(), CNetMachine::FlagAdministrator | CNetMachine::FlagConsole);
    EXPECT_EQ(list.Read<int8_t>(), 1);
    EXPECT_EQ(list.Read<int32_t>(), -1);
    EXPECT_EQ(list.Read<std::string>(), "Console");
    EXPECT_EQ(list.Read<uint16_t>(), 0);
    EXPECT_TRUE(list.AtEnd());
}

TEST_F(ConnectionFixture, ASecondClientIsAnnouncedToTheFirstAndListedWithEveryone)
{
    const NetPeer first = Join("Ann");
    sender.sent.clear();
    const NetPeer second = Join("Bob");
    ASSERT_EQ(sender.IdsTo(first), std::vector<uint32_t>{20});
    BodyReader added(sender.SentTo(first)[0].body);
    EXPECT_EQ(added.Read<uint16_t>(), 1);
    EXPECT_EQ(added.Read<int32_t>(), 1);
    added.Read<uint8_t>();
    added.Read<int8_t>();
    added.Read<int32_t>();
    EXPECT_EQ(added.Read<std::string>(), "Bob");
    EXPECT_EQ(added.Read<uint16_t>(), 0);
    EXPECT_TRUE(added.AtEnd());

    BodyReader list(sender.SentTo(second).back().body);
    EXPECT_EQ(list.Read<uint16_t>(), 3);
}

// Hazard: a record that cannot be written must be left out whole, never cut short or counted.
TEST_F(ConnectionFixture, AClientWhoseRecordCannotBeWrittenIsNeitherAnnouncedNorListed)
{
    const NetPeer first = Join("Ann");
    // More data entries than the record's UInt16 count can hold.
    AddHandler("OnPlayerJoin", MakeStrong<CLambdaFunction>([](const CArgumentArray& arguments, CReturnValue*) {
                   auto* client = static_cast<CNetMachine*>(arguments.GetAt(1)->ToObject());
                   const auto value = MakeStrong<CArgumentBoolean>(true);
                   for (uint32_t i = 0; i <= 0xFFFF; ++i)
                       client->SetData("k" + std::to_string(i), value.Get(), false);
                   return true;
               }));
    sender.sent.clear();
    const NetPeer second = Join("Bob");
    ASSERT_NE(ClientOf(second), nullptr);
    EXPECT_TRUE(sender.SentTo(first).empty()) << "no message 20 about Bob";

    ASSERT_EQ(sender.IdsTo(second).back(), 19u);
    BodyReader list(sender.SentTo(second).back().body);
    EXPECT_EQ(list.Read<uint16_t>(), 2) << "Ann and the console, not Bob";
    list.Read<uint16_t>();
    EXPECT_EQ(list.Read<int32_t>(), 0);
    list.Read<uint8_t>();
    list.Read<int8_t>();
    list.Read<int32_t>();
    EXPECT_EQ(list.Read<std::string>(), "Ann");
    EXPECT_EQ(list.Read<uint16_t>(), 0);
    EXPECT_EQ(list.Read<int32_t>(), 255);
    list.Read<uint8_t>();
    list.Read<int8_t>();
    list.Read<int32_t>();
    EXPECT_EQ(list.Read<std::string>(), "Console");
    EXPECT_EQ(list.Read<uint16_t>(), 0);
    EXPECT_TRUE(list.AtEnd());
}

TEST_F(ConnectionFixture, ReadyJoinsOnceAndStartsStreaming)
{
    auto& joined = Watch("OnPlayerJoined");
    const NetPeer peer = Join("Ann");
    Send(peer, 149, Digests({}));
    sender.sent.clear();
    Send(peer, 3);
    CNetMachine* client = ClientOf(peer);
    EXPECT_TRUE(client->IsJoined());
    EXPECT_TRUE(client->IsStreamingEnabled());
    EXPECT_EQ(server->GetJoinedPlayerCount(), 1u);
    ASSERT_EQ(joined.size(), 1u);
    EXPECT_EQ(sender.IdsTo(peer), (std::vector<uint32_t>{8, 5, 14}));
    EXPECT_EQ(BodyReader(sender.SentTo(peer)[0].body).Read<int32_t>(), 0) << "no resources offer files yet";
    EXPECT_EQ(BodyReader(sender.SentTo(peer)[1].body).Read<int32_t>(), -1) << "no player element yet";

    // Hazard: a repeated "ready" would replay the join sequence and the event.
    sender.sent.clear();
    Send(peer, 3);
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_EQ(joined.size(), 1u);
}

TEST_F(ConnectionFixture, MessagesFromPeersWithoutAClientAndSecondJoinRequestsAreIgnored)
{
    const NetPeer stranger = Connect();
    Send(stranger, 3);
    Send(stranger, 16);
    Send(stranger, 149, Digests({}));
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_TRUE(sender.disconnected.empty());

    const NetPeer peer = Join("Ann");
    sender.sent.clear();
    tJoin again;
    again.nickname = "Other";
    Send(peer, 1, JoinRequest(again));
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_EQ(ClientOf(peer)->GetName(), "Ann");
    EXPECT_EQ(server->GetPlayerCount(), 1u);
}

TEST_F(ConnectionFixture, QuitEmptiesTheSlotTellsEveryoneAndReportsItsReason)
{
    auto& quits = Watch("OnPlayerQuit");
    struct Case {
        const char* what;
        Bytes body;
        int32_t reason;
    };
    const Case cases[] = {
        {"without a body", {}, DISCONNECT_GRACEFUL},
        {"with a reason", {3, 0, 0, 0}, 3},
        {"with a reason cut short", {3, 0}, DISCONNECT_GRACEFUL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        quits.clear();
        sender.sent.clear();
        const NetPeer peer = JoinReady("Ann");
        Strong<CNetMachine> client = ClientOf(peer);
        const int32_t slot = client->GetIndex();
        Send(peer, 16, c.body);

        ASSERT_EQ(quits.size(), 1u);
        EXPECT_EQ(quits[0]->GetAt(0)->ToObject(), client.Get());
        int32_t reason = -1;
        quits[0]->GetAt(1)->ToNumber(reason);
        EXPECT_EQ(reason, c.reason);
        EXPECT_EQ(DisconnectReasonOf(peer), uint32_t(c.reason));
        EXPECT_EQ(server->GetMachines().GetMachine(slot), nullptr);
        EXPECT_EQ(server->GetPlayerCount(), 0u);
        EXPECT_EQ(server->GetJoinedPlayerCount(), 0u);
        ASSERT_EQ(sender.sent.back().id, 21u);
        EXPECT_TRUE(sender.sent.back().flags & PACKET_FLAG_EVERYONE);
        BodyReader removed(sender.sent.back().body);
        EXPECT_EQ(removed.Read<uint16_t>(), 1);
        EXPECT_EQ(removed.Read<int32_t>(), slot);

        // The transport's own disconnect event that follows finds nobody.
        server->OnDisconnect(peer, 0);
        EXPECT_EQ(quits.size(), 1u);
    }
}

TEST_F(ConnectionFixture, EveryTransportReasonEmptiesTheSlotIncludingNicknameInUse)
{
    auto& quits = Watch("OnPlayerQuit");
    for (uint32_t reason : {uint32_t(DISCONNECT_TIMEOUT), uint32_t(DISCONNECT_NICKNAMEINUSE)}) {
        SCOPED_TRACE(reason);
        const NetPeer peer = JoinReady("Ann");
        server->OnDisconnect(peer, reason);
        EXPECT_EQ(ClientOf(peer), nullptr);
        EXPECT_EQ(server->GetMachines().GetMachine(0), nullptr);
        int32_t reported = -1;
        quits.back()->GetAt(1)->ToNumber(reported);
        EXPECT_EQ(uint32_t(reported), reason);
    }
}

// Hazard: a script holding a departed client must not reach whoever is served next.
TEST_F(ConnectionFixture, ADepartedClientKeepsNoConnectionHandle)
{
    const NetPeer peer = JoinReady("Ann");
    Strong<CNetMachine> departed = ClientOf(peer);
    server->OnDisconnect(peer, DISCONNECT_TIMEOUT);
    EXPECT_FALSE(departed->GetPeer());
    EXPECT_EQ(departed->GetIndex(), -1);

    const NetPeer next = JoinReady("Bob");
    EXPECT_EQ(ClientOf(next)->GetIndex(), 0) << "the slot is taken again";
    sender.sent.clear();
    Packet packet(6);
    EXPECT_FALSE(departed->SendPacket(packet, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 0));
    server->GetManager()->DisconnectMachine(departed, DISCONNECT_KICKED);
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_FALSE(DisconnectReasonOf(next));
}

TEST_F(ConnectionFixture, AScriptThatCancelsTheConnectKeepsThePeerOut)
{
    AddHandler("OnPlayerConnect", MakeStrong<CLambdaFunction>([](const CArgumentArray& arguments, CReturnValue*) {
                   static_cast<EventHandlers::CCancellableEvent*>(arguments.GetAt(0)->ToObject())->PreventDefault();
                   return true;
               }));
    const NetPeer peer = Connect();
    EXPECT_EQ(DisconnectReasonOf(peer), DISCONNECT_KICKED);
    EXPECT_TRUE(Logged(LOG_WARN, "CONNECT: 127.0.0.1 revoked connection [REFUSED BY SCRIPT]"));
    Send(peer, 1, JoinRequest(tJoin{}));
    EXPECT_EQ(ClientOf(peer), nullptr) << "a refused peer's join request is not handled";
    EXPECT_TRUE(sender.sent.empty());
}

TEST_F(ConnectionFixture, APeerWithoutAnAddressIsRefusedWithFailed)
{
    sender.unknown.insert(lastPeer + 1);
    const NetPeer peer = Connect();
    EXPECT_EQ(DisconnectReasonOf(peer), DISCONNECT_FAILED);
    EXPECT_TRUE(lines.empty());
}

TEST_F(ConnectionFixture, AScriptMayDisconnectAClientWhileItJoinsOrLeaves)
{
    // During OnPlayerJoin, through the script method: the join sequence stops and nothing more
    // is sent.
    AddHandler("OnPlayerJoin", MakeStrong<CLambdaFunction>([this](const CArgumentArray& arguments, CReturnValue*) {
                   ReflectedFunction* disconnect =
                       server->GetManager()->GetClientClass()->GetFunction("disconnect");
                   CNativeCallHelper(server->GetScripting())
                       .Call(disconnect, *MakeStrong<CArgumentArray>(), arguments.GetAt(1)->ToObject());
                   return true;
               }));
    auto& quits = Watch("OnPlayerQuit");
    const NetPeer peer = Join("Ann");
    EXPECT_EQ(DisconnectReasonOf(peer), DISCONNECT_KICKED);
    EXPECT_EQ(ClientOf(peer), nullptr);
    EXPECT_EQ(quits.size(), 1u);
    for (const Sent& message : sender.sent)
        EXPECT_EQ(message.id, 21u) << "only the departure is announced";

    // During OnPlayerQuit: the departure runs once.
    Reset();
    auto& again = Watch("OnPlayerQuit");
    AddHandler("OnPlayerQuit", MakeStrong<CLambdaFunction>([this](const CArgumentArray& arguments, CReturnValue*) {
                   server->DisconnectClient(static_cast<CNetMachine*>(arguments.GetAt(1)->ToObject()),
                                            DISCONNECT_KICKED);
                   return true;
               }));
    const NetPeer leaving = JoinReady("Bob");
    Send(leaving, 16);
    EXPECT_EQ(again.size(), 1u);
    EXPECT_EQ(server->GetPlayerCount(), 0u);
}

TEST_F(ConnectionFixture, PasswordChecksAreLimitedPerAddress)
{
    server->GetSettings().m_password = CStoredPassword::Make("secret", 4);
    sender.addresses[lastPeer + 1] = sender.addresses[lastPeer + 2] = sender.addresses[lastPeer + 3] =
        sender.addresses[lastPeer + 4] = 0x0A000001;
    tJoin wrong;
    wrong.password = "guess";
    for (int attempt = 0; attempt < 3; ++attempt)
        EXPECT_EQ(DisconnectReasonOf(Join(wrong)), DISCONNECT_WRONGPASSWORD);
    tJoin right;
    right.password = "secret";
    EXPECT_EQ(DisconnectReasonOf(Join(right)), DISCONNECT_WRONGPASSWORD)
        << "over the limit even the right password is not checked";
    EXPECT_TRUE(Logged(LOG_WARN, "CONNECT: 10.0.0.1 revoked connection [WRONG PASSWORD]"));

    const NetPeer other = Join(right);
    EXPECT_FALSE(DisconnectReasonOf(other)) << "another address has its own allowance";
    EXPECT_NE(ClientOf(other), nullptr);
}

TEST_F(ConnectionFixture, TheConsoleClientHoldsSlot255)
{
    CNetMachine* console = server->GetConsoleClient();
    ASSERT_NE(console, nullptr);
    EXPECT_EQ(server->GetMachines().GetMachine(255), console);
    EXPECT_EQ(server->GetMachines().GetOurMachine(), console);
    EXPECT_EQ(console->GetName(), "Console");
    EXPECT_TRUE(console->IsAdministrator());
    EXPECT_TRUE(console->IsConsole());
    EXPECT_EQ(console->GetGame(), 1);
    EXPECT_EQ(console->GetGameName(), "rova:iii");
    EXPECT_FALSE(console->GetPeer());
    EXPECT_TRUE(server->IsConsoleClient(console));
    EXPECT_TRUE(server->IsConsoleClient(nullptr)) << "commands without a speaker are the console's";
    const NetPeer peer = Join("Ann");
    EXPECT_FALSE(server->IsConsoleClient(ClientOf(peer)));
    EXPECT_EQ(server->GetPlayerCount(), 1u) << "the console is not a player";
}

TEST_F(ConnectionFixture, TheTrainersFlagStartsFromTheConsoleVariableAndIsSentWhenItChanges)
{
    EXPECT_TRUE(static_cast<CRovaClient*>(ClientOf(Join("Ann")))->GetTrainers()) << "on without the variable";
    Reset();
    server->GetCVars().Set("Trainers", "0");
    auto* client = static_cast<CRovaClient*>(ClientOf(Join("Ann")));
    EXPECT_FALSE(client->GetTrainers());

    ReflectedProperty* property = server->GetManager()->GetClientClass()->GetProperty("trainers");
    ASSERT_NE(property, nullptr);
    CNativeCallHelper helper(server->GetScripting());
    sender.sent.clear();
    EXPECT_TRUE(helper.Set(property, MakeStrong<CArgumentBoolean>(false), client).m_bResult);
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_TRUE(helper.Set(property, MakeStrong<CArgumentBoolean>(true), client).m_bResult);
    ASSERT_EQ(sender.IdsTo(client->GetPeer()), std::vector<uint32_t>{153});
    EXPECT_EQ(sender.sent[0].body, Bytes{1});
    EXPECT_TRUE(helper.Get(property, client).m_value->ToBoolean());
}

namespace {

// A server whose anticheat list holds two files from a temporary folder.
struct AnticheatFixture : ConnectionFixture {
    AnticheatFixture()
    {
        folder = std::filesystem::temp_directory_path() / ("halden-ac-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder);
        std::ofstream(folder / "handling.cfg", std::ios::binary) << "mass 1500\n";
        std::ofstream(folder / "weapon.dat", std::ios::binary) << std::string(3000, 'w');
        auto fileSystem = std::make_unique<CFileSystem>();
        fileSystem->Mount(std::make_unique<CMountedPath>(folder.string()));
        context.SetFileSystem(std::move(fileSystem));
        AddFiles();
    }
    ~AnticheatFixture() override { std::filesystem::remove_all(folder); }

    void AddFiles()
    {
        EXPECT_TRUE(server->AddFileToAnticheat("data/handling.cfg", "handling.cfg"));
        EXPECT_TRUE(server->AddFileToAnticheat("data/weapon.dat", "/weapon.dat"));
    }
    static CMD5Hash::Digest DigestOf(const std::string& text) { return CMD5Hash::Compute(text.data(), text.size()); }
    std::vector<CMD5Hash::Digest> Right() const
    {
        return {DigestOf("mass 1500\n"), DigestOf(std::string(3000, 'w'))};
    }

    std::filesystem::path folder;
};

} // namespace

TEST_F(AnticheatFixture, TheJoiningClientIsAskedForTheConfiguredFilesInOrder)
{
    EXPECT_FALSE(server->AddFileToAnticheat("data/missing.dat", "missing.dat"));
    EXPECT_TRUE(Logged(LOG_WARN, "Failed to read anticheat file missing.dat."));
    EXPECT_FALSE(server->AddFileToAnticheat("data/blank.dat", ""));
    EXPECT_TRUE(Logged(LOG_WARN, "An anticheat file path is blank."));
    EXPECT_TRUE(Logged(LOG_INFO, "Adding anticheat file handling.cfg. Game path: data/handling.cfg"));

    const NetPeer peer = Join("Ann");
    BodyReader files(sender.SentTo(peer)[0].body);
    EXPECT_EQ(files.Read<uint32_t>(), 2u) << "a file that could not be read is not asked for";
    EXPECT_EQ(files.Read<std::string>(), "data/handling.cfg");
    EXPECT_EQ(files.Read<std::string>(), "data/weapon.dat");
    EXPECT_TRUE(files.AtEnd());
}

TEST_F(AnticheatFixture, NothingButTheDigestsIsHandledUntilTheyMatch)
{
    auto& joined = Watch("OnPlayerJoined");
    const NetPeer peer = Join("Ann");
    sender.sent.clear();
    Send(peer, 6, {3, 0, 0, 0, 'h', 'e', 'y'});
    Send(peer, 3);
    Send(peer, 16);
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_FALSE(ClientOf(peer)->IsJoined());
    EXPECT_TRUE(joined.empty());

    Send(peer, 149, Digests(Right()));
    EXPECT_TRUE(static_cast<CRovaClient*>(ClientOf(peer))->IsAnticheatVerified());
    Send(peer, 149, Digests({}));
    EXPECT_FALSE(DisconnectReasonOf(peer)) << "once verified, further digests are ignored";
    Send(peer, 3);
    EXPECT_EQ(joined.size(), 1u);
}

TEST_F(AnticheatFixture, DigestsThatDoNotMatchDisconnectWithAnticheat)
{
    auto wrongSecond = Right();
    wrongSecond[1][0] ^= 1;
    Bytes cutShort = Digests(Right());
    cutShort.resize(cutShort.size() - 1);
    Bytes noCount{2, 0};
    struct Case {
        const char* what;
        Bytes body;
        std::string line;
    };
    const Case cases[] = {
        {"the second file differs", Digests(wrongSecond),
         "CONNECT: 127.0.0.1 revoked connection [CRC CHECK FAILED - data/weapon.dat]"},
        {"the last digest is cut short", cutShort,
         "CONNECT: 127.0.0.1 revoked connection [CRC CHECK FAILED - data/weapon.dat]"},
        {"one file too few", Digests({Right()[0]}), "CONNECT: 127.0.0.1 revoked connection [CRC CHECK FAILED]"},
        {"no count", noCount, "CONNECT: 127.0.0.1 revoked connection [CRC CHECK FAILED]"},
        {"an empty body", {}, "CONNECT: 127.0.0.1 revoked connection [CRC CHECK FAILED]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        AddFiles();
        auto& quits = Watch("OnPlayerQuit");
        const NetPeer peer = Join("Ann");
        Send(peer, 149, c.body);
        EXPECT_EQ(DisconnectReasonOf(peer), DISCONNECT_ANTICHEAT);
        EXPECT_TRUE(Logged(LOG_WARN, c.line)) << "missing: " << c.line;
        EXPECT_EQ(ClientOf(peer), nullptr);
        ASSERT_EQ(quits.size(), 1u);
        int32_t reason = -1;
        quits[0]->GetAt(1)->ToNumber(reason);
        EXPECT_EQ(reason, DISCONNECT_ANTICHEAT);
    }
}

TEST(CPasswordThrottle, AllowsABurstPerAddressThenRefillsOverTime)
{
    CPasswordThrottle throttle({3.0, 0.5}, {100.0, 100.0});
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(throttle.TryTake("1.1.1.1", 1000));
    EXPECT_FALSE(throttle.TryTake("1.1.1.1", 1000));
    EXPECT_TRUE(throttle.TryTake("2.2.2.2", 1000)) << "addresses have their own buckets";
    EXPECT_FALSE(throttle.TryTake("1.1.1.1", 2999));
    EXPECT_TRUE(throttle.TryTake("1.1.1.1", 3000)) << "one check back after two seconds";
    EXPECT_FALSE(throttle.TryTake("1.1.1.1", 3000));
    EXPECT_FALSE(throttle.TryTake("1.1.1.1", 500)) << "a clock reading from the past gives nothing back";
}

TEST(CPasswordThrottle, TheOverallBucketLimitsManyAddressesTogether)
{
    CPasswordThrottle throttle({3.0, 0.5}, {6.0, 3.0});
    int allowed = 0;
    for (int i = 0; i < 20; ++i)
        allowed += throttle.TryTake("10.0.0." + std::to_string(i), 0) ? 1 : 0;
    EXPECT_EQ(allowed, 6);
    EXPECT_TRUE(throttle.TryTake("10.0.0.99", 334)) << "three per second come back";
    EXPECT_FALSE(throttle.TryTake("10.0.0.98", 334));
}

// Hazard: one entry per address ever seen would grow without bound under a spread-out flood.
TEST(CPasswordThrottle, RemembersABoundedNumberOfAddresses)
{
    CPasswordThrottle throttle({3.0, 0.5}, {1e9, 1e9});
    for (size_t i = 0; i < CPasswordThrottle::MaxTrackedAddresses; ++i)
        ASSERT_TRUE(throttle.TryTake("a" + std::to_string(i), 0));
    EXPECT_FALSE(throttle.TryTake("newcomer", 0)) << "every remembered address is cooling down";
    EXPECT_EQ(throttle.GetTrackedCount(), CPasswordThrottle::MaxTrackedAddresses);
    EXPECT_TRUE(throttle.TryTake("newcomer", 2000)) << "filled buckets are forgotten to make room";
    EXPECT_EQ(throttle.GetTrackedCount(), 1u);
}
