// Script functions and properties of the "server" namespace that every server has: bans,
// rules, console variables and the settings read from server.xml.

#include "BaseServer.h"

#include "Engine/CorvaneArguments.h"
#include "Engine/CorvaneNative.h"
#include "Engine/Scripting.h"

#include <cstdio>

using namespace Corvane3D;

namespace {

CBaseServer* Server(void* privateData)
{
    return static_cast<CBaseServer*>(privateData);
}

bool FunctionBanIP(CNativeState* state, int argumentCount, void* privateData)
{
    const char* address;
    if (!state->CheckString(0, address))
        return false;
    // The duration is optional: the address alone bans for good, as a duration of 0 does.
    uint32_t duration = 0;
    if (argumentCount > 1 && !state->CheckNumber(1, duration))
        return false;
    Server(privateData)->GetBanList().Ban(address, duration);
    return true;
}

bool FunctionUnbanIP(CNativeState* state, int, void* privateData)
{
    const char* address;
    if (!state->CheckString(0, address))
        return false;
    state->ReturnBoolean(Server(privateData)->GetBanList().Unban(address));
    return true;
}

bool FunctionUnbanAllIPs(CNativeState*, int, void* privateData)
{
    Server(privateData)->GetBanList().UnbanAll();
    return true;
}

bool FunctionIsIPBanned(CNativeState* state, int, void* privateData)
{
    const char* address;
    if (!state->CheckString(0, address))
        return false;
    state->ReturnBoolean(Server(privateData)->GetBanList().IsBanned(address));
    return true;
}

bool FunctionSetRule(CNativeState* state, int, void* privateData)
{
    const char* name;
    const char* value;
    if (!state->CheckString(0, name) || !state->CheckString(1, value))
        return false;
    Server(privateData)->GetRules().SetRule(name, value);
    return true;
}

bool FunctionGetRule(CNativeState* state, int, void* privateData)
{
    const char* name;
    if (!state->CheckString(0, name))
        return false;
    if (const std::string* value = Server(privateData)->GetRules().GetRule(name))
        state->ReturnString(value->c_str(), value->size());
    else
        state->ReturnNull();
    return true;
}

bool FunctionGetCVar(CNativeState* state, int, void* privateData)
{
    const char* name;
    if (!state->CheckString(0, name))
        return false;
    if (const CVarSystem::tCVar* cvar = Server(privateData)->GetCVars().Find(name))
        state->ReturnString(cvar->m_value.c_str(), cvar->m_value.size());
    else
        state->ReturnNull();
    return true;
}

bool FunctionSetCVar(CNativeState* state, int, void* privateData)
{
    const char* name;
    const char* value;
    if (!state->CheckString(0, name) || !state->CheckString(1, value))
        return false;
    CBaseServer* server = Server(privateData);
    CVarSystem& cvars = server->GetCVars();
    if (const CVarSystem::tCVar* existing = cvars.Find(name); existing && existing->m_readOnly)
        return state->Error("CVar %s is read-only", name);
    // A variable scripts may change is never read-only, and a new one starts writable.
    cvars.Set(name, value, true);
    server->SendCVars(NetPeer{});
    return true;
}

bool FunctionSetPassword(CNativeState* state, int, void* privateData)
{
    const char* password;
    if (!state->CheckString(0, password))
        return false;
    Server(privateData)->GetSettings().m_password = CStoredPassword::Make(password);
    state->ReturnBoolean(true);
    return true;
}

// Read-only and read-write properties over the settings.
template <auto Member>
bool GetBooleanSetting(CNativeState* state, int, void* privateData)
{
    state->ReturnBoolean(Server(privateData)->GetSettings().*Member);
    return true;
}

template <auto Member>
bool GetIntegerSetting(CNativeState* state, int, void* privateData)
{
    state->ReturnNumber(int32_t(Server(privateData)->GetSettings().*Member));
    return true;
}

template <auto Member>
bool GetStringSetting(CNativeState* state, int, void* privateData)
{
    const std::string& text = Server(privateData)->GetSettings().*Member;
    state->ReturnString(text.c_str(), text.size());
    return true;
}

template <auto Member>
bool GetRealSetting(CNativeState* state, int, void* privateData)
{
    state->ReturnNumber(float(Server(privateData)->GetSettings().*Member));
    return true;
}

template <auto Member>
bool SetRealSetting(CNativeState* state, int, void* privateData)
{
    float value;
    if (!state->CheckNumber(0, value))
        return false;
    Server(privateData)->GetSettings().*Member = value;
    return true;
}

bool GetSyncMethod(CNativeState* state, int, void* privateData)
{
    state->ReturnNumber(int32_t(Server(privateData)->GetSettings().m_syncMethod));
    return true;
}

bool GetMinClientVersion(CNativeState* state, int, void* privateData)
{
    const uint32_t* version = Server(privateData)->GetSettings().m_minClientVersion;
    char text[48];
    std::snprintf(text, sizeof text, "%u.%u.%u", version[0], version[1], version[2]);
    state->ReturnString(text);
    return true;
}

} // namespace

void CBaseServer::RegisterServerFunctions(CScripting& scripting)
{
    ReflectedNamespace* server = scripting.GetGlobal()->AddNamespace("server");
    server->RegisterFunction("banIP", "s|i", FunctionBanIP, this);
    server->RegisterFunction("unbanIP", "s", FunctionUnbanIP, this);
    server->RegisterFunction("unbanAllIPs", "", FunctionUnbanAllIPs, this);
    server->RegisterFunction("isIPBanned", "s", FunctionIsIPBanned, this);
    server->RegisterFunction("setRule", "ss", FunctionSetRule, this);
    server->RegisterFunction("getRule", "s", FunctionGetRule, this);
    server->RegisterFunction("getCVar", "s", FunctionGetCVar, this);
    server->RegisterFunction("setCVar", "s*", FunctionSetCVar, this);
    server->RegisterFunction("setPassword", "s", FunctionSetPassword, this);

    using S = CServerSettings;
    server->AddProperty(this, "rcon", ARGUMENT_BOOLEAN, GetBooleanSetting<&S::m_rcon>, nullptr);
    server->AddProperty(this, "rconPort", ARGUMENT_INTEGER, GetIntegerSetting<&S::m_rconPort>, nullptr);
    server->AddProperty(this, "listed", ARGUMENT_BOOLEAN, GetBooleanSetting<&S::m_serverBrowser>, nullptr);
    server->AddProperty(this, "httpServer", ARGUMENT_BOOLEAN, GetBooleanSetting<&S::m_httpServer>, nullptr);
    server->AddProperty(this, "httpPort", ARGUMENT_INTEGER, GetIntegerSetting<&S::m_httpPort>, nullptr);
    server->AddProperty(this, "httpURL", ARGUMENT_STRING, GetStringSetting<&S::m_httpURL>, nullptr);
    server->AddProperty(this, "minClientVersion", ARGUMENT_STRING, GetMinClientVersion, nullptr);
    server->AddProperty(this, "syncInterval", ARGUMENT_INTEGER, GetIntegerSetting<&S::m_syncInterval>, nullptr);
    server->AddProperty(this, "syncMethod", ARGUMENT_INTEGER, GetSyncMethod, nullptr);
    server->AddProperty(this, "duplicateNames", ARGUMENT_BOOLEAN, GetBooleanSetting<&S::m_duplicateNames>, nullptr);
    server->AddProperty(this, "streamInDistance", ARGUMENT_FLOAT, GetRealSetting<&S::m_streamInDistance>,
                        SetRealSetting<&S::m_streamInDistance>);
    server->AddProperty(this, "streamOutDistance", ARGUMENT_FLOAT, GetRealSetting<&S::m_streamOutDistance>,
                        SetRealSetting<&S::m_streamOutDistance>);
    server->AddProperty(this, "pickupStreamInDistance", ARGUMENT_FLOAT, GetRealSetting<&S::m_pickupStreamInDistance>,
                        SetRealSetting<&S::m_pickupStreamInDistance>);
    server->AddProperty(this, "pickupStreamOutDistance", ARGUMENT_FLOAT,
                        GetRealSetting<&S::m_pickupStreamOutDistance>, SetRealSetting<&S::m_pickupStreamOutDistance>);
    server->AddProperty(this, "logPath", ARGUMENT_STRING, GetStringSetting<&S::m_logPath>, nullptr);
    server->AddProperty(this, "syncLocalEntities", ARGUMENT_BOOLEAN, GetBooleanSetting<&S::m_syncLocalEntities>,
                        nullptr);
    server->AddProperty(this, "bindIP", ARGUMENT_STRING, GetStringSetting<&S::m_bindIP>, nullptr);
}
