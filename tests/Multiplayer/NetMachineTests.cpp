#include "MultiplayerTestSupport.h"

#include "Engine/ReflectedClass.h"
#include "Multiplayer/DisconnectReason.h"

using namespace MultiplayerTest;

namespace {

struct MachineFixture : ::testing::Test {
    MachineFixture()
    {
        context.SetConsole(nullptr);
        GGlobal.m_pContext = &context;
    }
    ~MachineFixture() override
    {
        machines.ReleaseAll();
        GGlobal.m_pContext = nullptr;
    }

    // A client in `slot` with a peer; joined unless told otherwise.
    CNetMachine* AddClient(int32_t slot, const char* name, bool joined = true)
    {
        auto client = MakeStrong<CNetMachine>(&manager);
        client->SetIndex(slot);
        client->SetName(name);
        client->SetPeer(NetPeer{uint64_t(slot) + 100});
        client->SetJoined(joined);
        machines.SetMachine(slot, client);
        return client.Get();
    }

    CNetMachine* AddConsole()
    {
        auto console = MakeStrong<CNetMachine>(&manager);
        console->SetIndex(CNetMachines::ConsoleSlot);
        console->SetName("Console");
        console->SetConsole(true);
        console->SetAdministrator(true);
        machines.SetMachine(CNetMachines::ConsoleSlot, console);
        return console.Get();
    }

    tNativeCallResult CallMethod(const char* name, CNetMachine* self) { return CallMethod(name, self, *NoArguments()); }
    tNativeCallResult CallMethod(const char* name, CNetMachine* self, const CArgumentArray& arguments)
    {
        ReflectedFunction* function = manager.GetClientClass()->GetFunction(name);
        EXPECT_NE(function, nullptr) << name;
        tNativeCallResult result = CNativeCallHelper(&scripting).Call(function, arguments, self);
        EXPECT_TRUE(result.KeptContract()) << name;
        return result;
    }
    tNativeCallResult CallGlobal(const char* name) { return CallGlobal(name, *NoArguments()); }
    tNativeCallResult CallGlobal(const char* name, const CArgumentArray& arguments)
    {
        ReflectedFunction* function = scripting.GetGlobal()->GetFunction(name);
        EXPECT_NE(function, nullptr) << name;
        tNativeCallResult result = CNativeCallHelper(&scripting).Call(function, arguments);
        EXPECT_TRUE(result.KeptContract()) << name;
        return result;
    }
    tNativeCallResult Get(const char* property, CNetMachine* self)
    {
        return CNativeCallHelper(&scripting).Get(manager.GetClientClass()->GetProperty(property), self);
    }
    tNativeCallResult Set(const char* property, CNetMachine* self, Strong<CArgument> value)
    {
        return CNativeCallHelper(&scripting).Set(manager.GetClientClass()->GetProperty(property), value, self);
    }

    static Strong<CArgumentArray> NoArguments() { return MakeStrong<CArgumentArray>(); }

    Context context;
    CScripting scripting;
    CRecordingSender sender;
    CNetMachines machines;
    CElementTableMgr manager{&scripting, &sender, &machines, true};
};

int32_t Integer(const tNativeCallResult& result)
{
    int32_t value = -999;
    if (result.m_value && result.m_value->IsNumber())
        result.m_value->ToNumber(value);
    return value;
}

CBaseObject* Object(const tNativeCallResult& result)
{
    return result.m_value ? result.m_value->ToObject() : nullptr;
}

const CArgumentArray& Arguments(std::initializer_list<Strong<CArgument>> values)
{
    // Kept until the next call: each test uses one list at a time.
    static Strong<CArgumentArray> list;
    list = MakeStrong<CArgumentArray>();
    for (const Strong<CArgument>& value : values)
        list->Add(value);
    return *list;
}

} // namespace

TEST_F(MachineFixture, ANewMachineHasTheDocumentedStartingState)
{
    auto machine = MakeStrong<CNetMachine>(&manager);
    EXPECT_EQ(machine->GetIndex(), -1);
    EXPECT_EQ(machine->GetGame(), -1);
    EXPECT_EQ(machine->GetPlayerId(), -1);
    EXPECT_EQ(machine->GetAddress().m_family, AF_INET);
    EXPECT_FALSE(machine->GetPeer());
    EXPECT_FALSE(machine->IsJoined());
    EXPECT_TRUE(machine->IsStreamingEnabled());
    EXPECT_EQ(machine->GetReflectedClass(), manager.GetClientClass());
}

TEST_F(MachineFixture, TheClientRecordCarriesFlagsGamePlayerNameAndData)
{
    CNetMachine* client = AddClient(4, "Ann");
    client->SetGame(3);
    client->SetAdministrator(true);
    client->SetData("team", MakeStrong<CArgumentInteger>(7), false);

    Packet record;
    ASSERT_TRUE(client->Write(&record));
    BodyReader reader(Bytes(record.GetData(), record.GetData() + record.GetSize()));
    EXPECT_EQ(reader.Read<uint8_t>(), CNetMachine::FlagAdministrator);
    EXPECT_EQ(reader.Read<int8_t>(), 3);
    EXPECT_EQ(reader.Read<int32_t>(), -1) << "no player element";
    EXPECT_EQ(reader.Read<std::string>(), "Ann");
    EXPECT_EQ(reader.Read<uint16_t>(), 1) << "data stored without sync travels in the record";
    EXPECT_EQ(reader.Read<std::string>(), "team");
    EXPECT_EQ(reader.Read<uint8_t>(), ARGUMENT_INTEGER);
    EXPECT_EQ(reader.Read<int32_t>(), 7);
    EXPECT_TRUE(reader.AtEnd());

    CNetMachine* console = AddConsole();
    EXPECT_EQ(console->GetFlags(), CNetMachine::FlagAdministrator | CNetMachine::FlagConsole);
}

TEST_F(MachineFixture, SetDataMirrorsStoresAndRefusesWhatHasNoWireForm)
{
    CNetMachine* client = AddClient(2, "Bo");
    struct Case {
        const char* what;
        Strong<CArgument> value;
        bool sync;
        bool stored;
        bool sent;
    };
    auto instance = MakeStrong<CArgumentObject>(MakeStrong<CBaseObject>().Get());
    const Case cases[] = {
        {"a synced string is sent and stored", MakeStrong<CArgumentString>("red"), true, true, true},
        {"an unsynced number is stored only", MakeStrong<CArgumentInteger>(5), false, true, false},
        // Hazard: a value that cannot travel must not reach clients as a message cut short.
        {"an instance is refused and nothing is sent", instance, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sender.sent.clear();
        EXPECT_EQ(client->SetData("key", c.value, c.sync), c.stored);
        EXPECT_EQ(client->GetData("key") != nullptr && client->GetData("key")->GetType() == c.value->GetType(),
                  c.stored);
        ASSERT_EQ(sender.sent.size(), c.sent ? 1u : 0u);
        if (c.sent) {
            EXPECT_EQ(sender.sent[0].id, NETMACHINE_MESSAGE_DATA);
            EXPECT_TRUE(sender.sent[0].flags & PACKET_FLAG_EVERYONE);
            BodyReader reader(sender.sent[0].body);
            EXPECT_EQ(reader.Read<uint16_t>(), 1);
            EXPECT_EQ(reader.Read<int32_t>(), 2);
            EXPECT_EQ(reader.Read<uint16_t>(), 1);
            EXPECT_EQ(reader.Read<std::string>(), "key");
            EXPECT_EQ(reader.Read<uint8_t>(), ARGUMENT_STRING);
            EXPECT_EQ(reader.Read<std::string>(), "red");
            EXPECT_TRUE(reader.AtEnd());
        }
    }

    sender.sent.clear();
    EXPECT_TRUE(client->SetData("key", MakeStrong<CArgument>(ARGUMENT_NIL), true));
    EXPECT_EQ(client->GetData("key"), nullptr) << "nil removes the key";
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(sender.sent[0].body.back(), ARGUMENT_NIL) << "a removal carries type 0 and no payload";
}

TEST_F(MachineFixture, RemovingDataTellsClientsOnlyAboutKeysThatExistedButClearingAlwaysDoes)
{
    CNetMachine* client = AddClient(1, "Cy");
    EXPECT_FALSE(client->RemoveData("missing"));
    EXPECT_TRUE(sender.sent.empty());

    client->SetData("a", MakeStrong<CArgumentInteger>(1), false);
    EXPECT_TRUE(client->RemoveData("a"));
    ASSERT_EQ(sender.Ids(), std::vector<uint32_t>{NETMACHINE_MESSAGE_DATA});

    client->ClearData();
    ASSERT_EQ(sender.Ids(), (std::vector<uint32_t>{NETMACHINE_MESSAGE_DATA, NETMACHINE_MESSAGE_DATA_CLEARED}));
    BodyReader reader(sender.sent[1].body);
    EXPECT_EQ(reader.Read<uint16_t>(), 1);
    EXPECT_EQ(reader.Read<int32_t>(), 1);
    EXPECT_TRUE(reader.AtEnd());
}

TEST_F(MachineFixture, DataNativesStoreReadAndRemoveValues)
{
    CNetMachine* client = AddClient(0, "Di");
    EXPECT_TRUE(CallMethod("setData", client, Arguments({MakeStrong<CArgumentString>("k"),
                                                         MakeStrong<CArgumentInteger>(9),
                                                         MakeStrong<CArgumentBoolean>(false)}))
                    .m_bResult);
    EXPECT_TRUE(sender.sent.empty()) << "sync false";
    EXPECT_EQ(Integer(CallMethod("getData", client, Arguments({MakeStrong<CArgumentString>("k")}))), 9);
    EXPECT_TRUE(
        CallMethod("getData", client, Arguments({MakeStrong<CArgumentString>("other")})).m_value->IsUndefined());

    const tNativeCallResult refused = CallMethod(
        "setData", client,
        Arguments({MakeStrong<CArgumentString>("k"), MakeStrong<CArgumentObject>(MakeStrong<CBaseObject>().Get())}));
    EXPECT_FALSE(refused.m_bResult);
    EXPECT_EQ(refused.m_error, "data is not storable");

    CallMethod("removeAllData", client);
    EXPECT_EQ(client->GetData("k"), nullptr);
    EXPECT_EQ(sender.Ids(), std::vector<uint32_t>{NETMACHINE_MESSAGE_DATA_CLEARED});
}

TEST_F(MachineFixture, ChangingTheAdministratorFlagBroadcastsTheFlagsButSettingItAgainDoesNot)
{
    CNetMachine* client = AddClient(5, "Ed");
    EXPECT_TRUE(Set("administrator", client, MakeStrong<CArgumentBoolean>(false)).m_bResult);
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_TRUE(Set("administrator", client, MakeStrong<CArgumentBoolean>(true)).m_bResult);
    ASSERT_EQ(sender.Ids(), std::vector<uint32_t>{NETMACHINE_MESSAGE_FLAGS});
    BodyReader reader(sender.sent[0].body);
    EXPECT_EQ(reader.Read<uint16_t>(), 1);
    EXPECT_EQ(reader.Read<int32_t>(), 5);
    EXPECT_EQ(reader.Read<uint8_t>(), CNetMachine::FlagAdministrator);
    EXPECT_TRUE(Get("administrator", client).m_value->ToBoolean());
}

TEST_F(MachineFixture, APlayerElementIsNamedAnnouncedAndToldToItsClient)
{
    CNetMachine* client = AddClient(3, "Flo");
    CBaseObject* element = manager.AddElement(77);

    client->SetPlayer(element);
    EXPECT_EQ(client->GetPlayer(), element);
    EXPECT_EQ(manager.names[element], "Flo");
    ASSERT_EQ(sender.Ids(), (std::vector<uint32_t>{NETMACHINE_MESSAGE_PLAYER, NETMACHINE_MESSAGE_LOCAL_PLAYER}));
    BodyReader announced(sender.sent[0].body);
    EXPECT_EQ(announced.Read<uint16_t>(), 1);
    EXPECT_EQ(announced.Read<int32_t>(), 3);
    EXPECT_EQ(announced.Read<int32_t>(), 77);
    EXPECT_EQ(BodyReader(sender.sent[1].body).Read<int32_t>(), -1) << "not yet created on the client";
    EXPECT_EQ(sender.sent[1].peer, client->GetPeer());

    sender.sent.clear();
    client->SetPlayer(element);
    EXPECT_TRUE(sender.sent.empty()) << "the same element again changes nothing";

    manager.created.insert({element, client});
    client->SendPlayer();
    EXPECT_EQ(BodyReader(sender.sent.back().body).Read<int32_t>(), 77);

    sender.sent.clear();
    EXPECT_EQ(Object(CallGlobal("getClientFromPlayerElement", Arguments({CArgument::Create(element)}))), client);
    CallMethod("despawnPlayer", client);
    EXPECT_EQ(manager.destroyed, std::vector<int32_t>{77});
    EXPECT_EQ(client->GetPlayer(), nullptr);
    ASSERT_EQ(sender.Ids(), (std::vector<uint32_t>{NETMACHINE_MESSAGE_PLAYER, NETMACHINE_MESSAGE_LOCAL_PLAYER}));
    BodyReader cleared(sender.sent[0].body);
    cleared.Read<uint16_t>();
    cleared.Read<int32_t>();
    EXPECT_EQ(cleared.Read<int32_t>(), -1);
    EXPECT_EQ(BodyReader(sender.sent[1].body).Read<int32_t>(), -1);
}

TEST_F(MachineFixture, ThePlayerSetterTakesOnlyRegisteredElementsOrNull)
{
    CNetMachine* client = AddClient(0, "Gus");
    const tNativeCallResult stranger =
        Set("player", client, MakeStrong<CArgumentObject>(MakeStrong<CBaseObject>().Get()));
    EXPECT_FALSE(stranger.m_bResult);
    EXPECT_EQ(client->GetPlayer(), nullptr);

    CBaseObject* element = manager.AddElement(12);
    EXPECT_TRUE(Set("player", client, CArgument::Create(element)).m_bResult);
    EXPECT_EQ(Object(Get("player", client)), element);
    EXPECT_TRUE(Set("player", client, MakeStrong<CArgument>(ARGUMENT_NIL)).m_bResult);
    EXPECT_EQ(client->GetPlayerId(), -1);
}

TEST_F(MachineFixture, ClientLookupsListOnlyJoinedClientsAndKnowTheConsole)
{
    CNetMachine* console = AddConsole();
    CNetMachine* first = AddClient(0, "A");
    AddClient(1, "B", false);
    CNetMachine* third = AddClient(7, "C");

    const tNativeCallResult all = CallGlobal("getClients");
    auto* list = static_cast<CArgumentArray*>(all.m_value.Get());
    ASSERT_TRUE(list && list->IsArray());
    ASSERT_EQ(list->GetArrayCount(), 2u) << "joined, not the console";
    EXPECT_EQ(list->GetAt(0)->ToObject(), first);
    EXPECT_EQ(list->GetAt(1)->ToObject(), third);

    struct Case {
        int32_t index;
        CNetMachine* expected;
    };
    for (const Case& c : {Case{0, first}, Case{1, nullptr}, Case{7, third}, Case{255, nullptr}}) {
        SCOPED_TRACE(c.index);
        EXPECT_EQ(Object(CallGlobal("getClient", Arguments({MakeStrong<CArgumentInteger>(c.index)}))), c.expected);
    }
    for (int32_t index : {256, -1}) {
        const tNativeCallResult outside = CallGlobal("getClient", Arguments({MakeStrong<CArgumentInteger>(index)}));
        EXPECT_FALSE(outside.m_bResult);
        EXPECT_EQ(outside.m_error, "index out of bounds");
    }

    EXPECT_EQ(Object(CallGlobal("getConsole")), console);
    const ReflectedNamespace* global = scripting.GetGlobal();
    EXPECT_EQ(Object(CNativeCallHelper(&scripting).Get(global->GetProperty("localClient"))), console);
    EXPECT_EQ(Object(CNativeCallHelper(&scripting).Get(global->GetProperty("localPlayer"))), nullptr);
}

TEST_F(MachineFixture, PingAndAddressComeFromTheTransport)
{
    CNetMachine* console = AddConsole();
    CNetMachine* client = AddClient(2, "Hal");
    CIPAddress address;
    sender.GetPeerIP(client->GetPeer(), address);
    client->SetAddress(address);
    auto departed = MakeStrong<CNetMachine>(&manager);

    EXPECT_EQ(Integer(Get("ping", console)), 0);
    EXPECT_EQ(Integer(Get("ping", client)), 42);
    EXPECT_EQ(Integer(Get("ping", departed)), -1) << "no peer";
    EXPECT_STREQ(Get("ip", client).m_value->ToString(), "127.0.0.1");
}

TEST_F(MachineFixture, DisconnectGoesThroughTheTransportWithKickedAsTheDefault)
{
    CNetMachine* console = AddConsole();
    CNetMachine* client = AddClient(0, "Ivy");
    CallMethod("disconnect", client);
    CallMethod("disconnect", client, Arguments({MakeStrong<CArgumentInteger>(6)}));
    const std::vector<std::pair<NetPeer, uint32_t>> expected{{client->GetPeer(), DISCONNECT_KICKED},
                                                             {client->GetPeer(), DISCONNECT_GRACEFUL}};
    EXPECT_EQ(sender.disconnected, expected);

    const tNativeCallResult refused = CallMethod("disconnect", console);
    EXPECT_FALSE(refused.m_bResult);
    EXPECT_EQ(refused.m_error, "Cannot disconnect the console");
}

TEST_F(MachineFixture, ServerOnlyMembersFailOffTheServerSide)
{
    CScripting clientScripting;
    CElementTableMgr clientSide(&clientScripting, &sender, &machines, false);
    auto machine = MakeStrong<CNetMachine>(&clientSide);
    for (const char* property : {"ip", "ping"}) {
        SCOPED_TRACE(property);
        const tNativeCallResult result =
            CNativeCallHelper(&clientScripting).Get(clientSide.GetClientClass()->GetProperty(property), machine);
        EXPECT_FALSE(result.m_bResult);
        EXPECT_EQ(result.m_error, "Must be used serverside");
    }
    const tNativeCallResult disconnect = CNativeCallHelper(&clientScripting)
                                             .Call(clientSide.GetClientClass()->GetFunction("disconnect"), *NoArguments(), machine);
    EXPECT_EQ(disconnect.m_error, "Must be used serverside");
    EXPECT_TRUE(clientSide.GetClientClass()->GetProperty("player")->IsReadOnly());

    machine->SetData("k", MakeStrong<CArgumentInteger>(1), true);
    EXPECT_TRUE(sender.sent.empty()) << "nothing is sent off the server side";
}

TEST_F(MachineFixture, TheConsoleIsNeverSentAnything)
{
    CNetMachine* console = AddConsole();
    console->SetJoined(true);
    Packet packet(99);
    EXPECT_FALSE(console->SendPacket(packet, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 0));
    console->SendPlayer();
    EXPECT_TRUE(sender.sent.empty());
}

TEST(CNetMachines, SlotsAreFilledLowestFirstAndReleasedFromTheTop)
{
    static std::vector<int32_t> released;
    struct CNoisyMachine : CNetMachine {
        using CNetMachine::CNetMachine;
        ~CNoisyMachine() override { released.push_back(GetIndex()); }
    };
    released.clear();
    CNetMachines machines;
    EXPECT_EQ(machines.FindFreeClientSlot(), 0);
    for (int32_t index : {0, 1, 3, 255}) {
        auto machine = MakeStrong<CNoisyMachine>(nullptr);
        machine->SetIndex(index);
        machine->SetPeer(NetPeer{uint64_t(index) + 1});
        machines.SetMachine(index, machine);
    }
    EXPECT_EQ(machines.FindFreeClientSlot(), 2);
    EXPECT_EQ(machines.GetMachineFromPeer(NetPeer{4})->GetIndex(), 3);
    EXPECT_EQ(machines.GetMachineFromPeer(NetPeer{}), nullptr) << "the null handle is nobody's";
    EXPECT_EQ(machines.GetMachine(256), nullptr);
    EXPECT_EQ(machines.GetMachine(-1), nullptr);
    EXPECT_FALSE(machines.SetMachine(256, nullptr));

    machines.ReleaseAll();
    EXPECT_EQ(released, (std::vector<int32_t>{255, 3, 1, 0}));
}

TEST(CNetMachines, WithEveryClientSlotTakenThereIsNoFreeSlot)
{
    CNetMachines machines;
    for (int32_t index = 0; index < CNetMachines::ConsoleSlot; ++index)
        machines.SetMachine(index, MakeStrong<CNetMachine>(nullptr));
    EXPECT_EQ(machines.FindFreeClientSlot(), -1) << "slot 255 is the console's";
}
