#include "RovaServer.h"

#include "Engine/Context.h"
#include "Engine/CorvaneArguments.h"
#include "Engine/NativeCallHelper.h"
#include "Engine/OS.h"
#include "Engine/Scripting.h"

#include "Multiplayer/MultiplayerTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Corvane3D;
using MultiplayerTest::CRecordingSender;

namespace {

// A server with a recording transport whose "server" namespace natives are called directly.
struct ServerNativesFixture : ::testing::Test {
    ServerNativesFixture()
    {
        context.SetConsole(nullptr);
        GGlobal.m_pContext = &context;
        server = std::make_unique<CRovaServer>(sender);
        serverNamespace = server->GetScripting()->GetGlobal()->GetNamespace("server");
    }
    ~ServerNativesFixture() override
    {
        server.reset();
        GGlobal.m_pContext = nullptr;
    }

    template <typename... Values>
    tNativeCallResult Call(const char* name, Values... values)
    {
        CArgumentArray arguments;
        (Add(arguments, values), ...);
        const ReflectedFunction* function = serverNamespace->GetFunction(name);
        EXPECT_NE(function, nullptr) << name;
        tNativeCallResult result = CNativeCallHelper(server->GetScripting()).Call(function, arguments);
        EXPECT_TRUE(result.KeptContract()) << name;
        return result;
    }
    static void Add(CArgumentArray& arguments, const char* text) { arguments.AddString(text); }
    static void Add(CArgumentArray& arguments, int number) { arguments.AddNumber(int32_t(number)); }
    static void Add(CArgumentArray& arguments, double number) { arguments.AddNumber(number); }

    static bool Boolean(const tNativeCallResult& result)
    {
        return result.m_value && result.m_value->IsBoolean() && result.m_value->ToBoolean();
    }
    static std::string Text(const tNativeCallResult& result)
    {
        if (!result.m_value || !result.m_value->IsString())
            return "<not a string>";
        size_t length = 0;
        const char* text = result.m_value->ToString(&length);
        return std::string(text, length);
    }
    size_t MessagesWithId(uint32_t id) const
    {
        size_t count = 0;
        for (const auto& message : sender.sent)
            count += message.id == id;
        return count;
    }

    Context context;
    CRecordingSender sender;
    std::unique_ptr<CRovaServer> server;
    ReflectedNamespace* serverNamespace = nullptr;
};

} // namespace

TEST_F(ServerNativesFixture, BansAreAddedCheckedAndRemoved)
{
    EXPECT_FALSE(Boolean(Call("isIPBanned", "1.2.3.4")));
    EXPECT_TRUE(Call("banIP", "1.2.3.4").m_bResult) << "the duration is optional: a permanent ban";
    EXPECT_TRUE(Boolean(Call("isIPBanned", "1.2.3.4")));
    EXPECT_FALSE(Boolean(Call("isIPBanned", "1.2.3.4:22000"))) << "addresses match exactly";
    EXPECT_TRUE(Boolean(Call("unbanIP", "1.2.3.4")));
    EXPECT_FALSE(Boolean(Call("unbanIP", "1.2.3.4")));
    Call("banIP", "5.5.5.5", 0);
    Call("banIP", "6.6.6.6", 0);
    Call("unbanAllIPs");
    EXPECT_FALSE(Boolean(Call("isIPBanned", "5.5.5.5")));
}

TEST_F(ServerNativesFixture, ATimedBanEndsWhenTheClockPassesIt)
{
    Call("banIP", "9.9.9.9", 200);
    EXPECT_TRUE(Boolean(Call("isIPBanned", "9.9.9.9")));
    OS::SleepMilliseconds(250);
    EXPECT_FALSE(Boolean(Call("isIPBanned", "9.9.9.9")));
    EXPECT_FALSE(Boolean(Call("unbanIP", "9.9.9.9"))) << "the run-out ban was removed by the check";
}

TEST_F(ServerNativesFixture, ArgumentsOfTheWrongTypeFailWithTheArgumentError)
{
    struct Case {
        const char* function;
        tNativeCallResult result;
        const char* error;
    };
    const Case cases[] = {
        {"banIP", Call("banIP", 5), "Expected string for argument 1"},
        {"banIP", Call("banIP", "1.1.1.1", "soon"), "Expected integer for argument 2"},
        {"isIPBanned", Call("isIPBanned"), "Expected string for argument 1"},
        {"setCVar", Call("setCVar", "name"), "Expected string for argument 2"},
        {"setCVar", Call("setCVar", "name", 3), "Expected string for argument 2"},
        {"setRule", Call("setRule", "name"), "Expected string for argument 2"},
        {"getRule", Call("getRule", 1.5), "Expected string for argument 1"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(c.result.m_bResult) << c.function;
        EXPECT_EQ(c.result.m_error, c.error) << c.function;
    }
    EXPECT_FALSE(Boolean(Call("isIPBanned", "1.1.1.1"))) << "a failed ban changes nothing";
    EXPECT_EQ(server->GetCVars().Find("name"), nullptr);
}

TEST_F(ServerNativesFixture, ConsoleVariablesFromTheConfigurationAreReadOnlyForScripts)
{
    server->GetCVars().Set("Trainers", "0");
    server->GetCVars().Find("trainers")->m_readOnly = true;
    EXPECT_EQ(Text(Call("getCVar", "trainers")), "0");
    const tNativeCallResult refused = Call("setCVar", "TRAINERS", "1");
    EXPECT_FALSE(refused.m_bResult);
    EXPECT_EQ(refused.m_error, "CVar TRAINERS is read-only");
    EXPECT_EQ(MessagesWithId(30), 0u);

    EXPECT_TRUE(Call("setCVar", "weather", "rain").m_bResult);
    EXPECT_TRUE(Call("setCVar", "WEATHER", "sun").m_bResult) << "a script's own variable stays writable";
    EXPECT_EQ(Text(Call("getCVar", "weather")), "sun");
    EXPECT_EQ(MessagesWithId(30), 2u) << "every change goes to every client";
    const tNativeCallResult missing = Call("getCVar", "never");
    EXPECT_TRUE(missing.m_bResult);
    EXPECT_TRUE(missing.m_value && missing.m_value->IsNull());
}

TEST_F(ServerNativesFixture, RulesKeepTheirPlaceAndMatchExactly)
{
    server->GetRules().SetRule("Version", CBaseServer::ServerVersion);
    Call("setRule", "Version", "2.0");
    Call("setRule", "version", "lower");
    EXPECT_EQ(Text(Call("getRule", "Version")), "2.0");
    EXPECT_EQ(Text(Call("getRule", "version")), "lower");
    EXPECT_EQ(server->GetRules().GetRules().front().first, "Version");
    EXPECT_TRUE(Call("getRule", "absent").m_value->IsNull());
}

TEST_F(ServerNativesFixture, SettingsAreVisibleAsPropertiesAndStreamDistancesAreWritable)
{
    server->GetSettings().m_minClientVersion[1] = 4;
    CNativeCallHelper helper(server->GetScripting());
    auto get = [&](const char* name) { return helper.Get(serverNamespace->GetProperty(name)); };
    EXPECT_EQ(Text(get("minClientVersion")), "1.4.0");
    int32_t port = 0;
    get("httpPort").m_value->ToNumber(port);
    EXPECT_EQ(port, 22000);

    auto distance = MakeStrong<CArgumentFloat>(321.5f);
    EXPECT_TRUE(helper.Set(serverNamespace->GetProperty("streamInDistance"), distance).m_bResult);
    EXPECT_FLOAT_EQ(server->GetSettings().m_streamInDistance, 321.5f);
    EXPECT_EQ(serverNamespace->GetProperty("rcon")->GetSetter().CanCall(), false) << "read-only";
}

TEST_F(ServerNativesFixture, SetPasswordReplacesOrRemovesTheJoinPassword)
{
    EXPECT_TRUE(Boolean(Call("setPassword", "letmein")));
    EXPECT_TRUE(VerifyPassword("letmein", server->GetSettings().m_password));
    Call("setPassword", "");
    EXPECT_FALSE(server->GetSettings().m_password.IsSet());
}
