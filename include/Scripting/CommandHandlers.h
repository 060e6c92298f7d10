#pragma once
// Commands: named actions typed at the console, sent by players, sent through the remote console
// or run by scripts. One table maps each name (case-insensitive: the CRC-32 of the lower-cased
// name) to exactly one handler, native or script; lines nobody takes go to the unhandled handler.

#include "Engine/Context.h"
#include "Engine/CorvaneNative.h"
#include "Scripting/HandlerTable.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace Corvane3D {

class CNetMachine;
class CScripting;
class CCommandHandlers;

class CCommandHandler : public CRefCounted {
public:
    // `arguments` is null when the command line had none; `client` is null for the console and
    // for scripts; answers go to `logger`.
    virtual void Execute(const char* name, const char* arguments, CNetMachine* client, Logger* logger) = 0;

    CCommandHandlers* GetOwner() const { return m_pOwner; }
    uint32_t GetNameHash() const { return m_uiNameHash; }
    const char* GetName() const { return m_name.c_str(); }
    CResource* GetResource() const { return m_Entry.GetResource(); }
    // Console-only handlers run only for callers allowed to use them (the console, privileged
    // resources, administrators).
    bool IsConsoleOnly() const { return m_bConsoleOnly; }
    void SetConsoleOnly(bool consoleOnly) { m_bConsoleOnly = consoleOnly; }
    bool IsRemoved() const { return m_Entry.IsRemoved(); }

protected:
    // Native handlers are console-only unless they say otherwise.
    explicit CCommandHandler(bool consoleOnly = true) : m_bConsoleOnly(consoleOnly) {}

private:
    friend class CCommandHandlers;

    CCommandHandlers* m_pOwner = nullptr;
    uint32_t m_uiNameHash = 0;
    std::string m_name;
    bool m_bConsoleOnly;
    CHandlerEntry m_Entry;
};

// A native handler whose body is a C++ callable, for commands built into the server.
class CNativeCommandHandler : public CCommandHandler {
public:
    using Body = std::function<void(const char* name, const char* arguments, CNetMachine* client, Logger* logger)>;

    explicit CNativeCommandHandler(Body body, bool consoleOnly = true)
        : CCommandHandler(consoleOnly), m_body(std::move(body))
    {
    }

    void Execute(const char* name, const char* arguments, CNetMachine* client, Logger* logger) override
    {
        if (m_body)
            m_body(name, arguments, client, logger);
    }

private:
    Body m_body;
};

// Calls a script function with (name, arguments or null[, client or null]).
class CScriptCommandHandler : public CCommandHandler {
public:
    explicit CScriptCommandHandler(CFunction* function) : CCommandHandler(false), m_pFunction(function) {}

    void Execute(const char* name, const char* arguments, CNetMachine* client, Logger* logger) override;
    CFunction* GetFunction() const { return m_pFunction.Get(); }

private:
    Strong<CFunction> m_pFunction;
};

// Answers the console when a command line names no handler. Client callers get no answer.
class CUnhandledCommandHandler : public CCommandHandler {
public:
    CUnhandledCommandHandler() : CCommandHandler(true) {}

    void Execute(const char* name, const char* arguments, CNetMachine* client, Logger* logger) override;

protected:
    // Whether a client stands for the server console; the server knows its console client.
    virtual bool IsConsole(CNetMachine*) const { return false; }
};

class CCommandHandlers : public CHandlerTable {
public:
    static constexpr size_t MaxArgumentLength = 255;
    static constexpr size_t MaxLineLength = 256;

    // Turns a client into the object scripts receive as a command's third argument.
    using ClientObject = std::function<CBaseObject*(CNetMachine* client)>;
    // Whether a resource may run console-only commands through "consoleCommand".
    using PrivilegeCheck = std::function<bool(CResource* resource)>;

    // Registers the natives in the core's root namespace.
    explicit CCommandHandlers(CScripting* scripting);
    ~CCommandHandlers() override;

    // Stores the handler under the name unless the name (in any letter case) is taken; the
    // caller keeps its reference either way.
    bool AddCommandHandler(Strong<CCommandHandler> handler, const char* name, CResource* resource = nullptr);
    CCommandHandler* GetCommandHandler(const char* name) const;
    bool HasCommandHandler(const char* name) const { return GetCommandHandler(name) != nullptr; }
    // Every handler in the table's own order.
    std::vector<CCommandHandler*> GetCommandHandlers() const;
    // Takes the handler of that name out of the table; a running handler finishes its call.
    bool RemoveCommandHandler(const char* name);
    // Every handler `resource` added (null removes nothing: native handlers have no resource).
    size_t RemoveHandlers(CResource* resource);

    void SetUnhandledHandler(Strong<CCommandHandler> handler) { m_pUnhandled = std::move(handler); }
    CCommandHandler* GetUnhandledHandler() const { return m_pUnhandled.Get(); }

    // Runs the named handler with the arguments (cut to 255 bytes, trailing CR and LF removed).
    // A null `logger` answers through the table's current logger.
    bool Trigger(const char* name, const char* arguments, CNetMachine* client, bool allowConsoleOnly,
                 Logger* logger = nullptr);
    // Splits "name arguments" and runs it; lines nobody takes reach the unhandled handler. True
    // when a named handler ran.
    bool ConsoleCommandOnly(const char* line, CNetMachine* client, bool allowConsoleOnly, Logger* logger = nullptr);
    // Console-like input that may be chat: "/name arguments" runs a command, anything else is
    // said through the "say" command. True when a handler ran.
    bool ConsoleCommand(const char* line, bool allowConsoleOnly, Logger* logger = nullptr);

    // With a converter, script handlers receive the client as a third argument.
    void SetClientArgument(ClientObject clientObject) { m_ClientObject = std::move(clientObject); }
    bool HasClientArgument() const { return bool(m_ClientObject); }
    CBaseObject* ToClientObject(CNetMachine* client) const;
    void SetPrivilegeCheck(PrivilegeCheck check) { m_PrivilegeCheck = std::move(check); }
    bool IsPrivileged(CResource* resource) const;

    // Where answers go unless a caller names its own logger; null restores the table's own.
    Logger* GetLogger() { return m_pLogger ? m_pLogger : &m_Logger; }
    Logger* SetLogger(Logger* logger) { return std::exchange(m_pLogger, logger); }

    CScripting* GetScripting() const { return m_pScripting; }

    static uint32_t HashName(const char* name);

private:
    void RegisterFunctions();
    bool RunUnhandled(const char* name, const char* arguments, CNetMachine* client, bool allowConsoleOnly,
                      Logger* logger);
    void Retire(std::unordered_map<uint32_t, Strong<CCommandHandler>>::iterator found);
    void FinishedIterating() override {}

    CScripting* m_pScripting;
    std::unordered_map<uint32_t, Strong<CCommandHandler>> m_Handlers;
    Strong<CCommandHandler> m_pUnhandled;
    ClientObject m_ClientObject;
    PrivilegeCheck m_PrivilegeCheck;
    Logger m_Logger;
    Logger* m_pLogger = nullptr;
};

} // namespace Corvane3D
