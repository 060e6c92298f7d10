#include "Scripting/CommandHandlers.h"

#include "Engine/CRC32Hash.h"

#include <cstring>

namespace Corvane3D {

void CScriptCommandHandler::Execute(const char* name, const char* arguments, CNetMachine* client, Logger*)
{
    if (!m_pFunction)
        return;
    CArgumentArray list(3);
    CCommandHandlers* owner = GetOwner();
    list.AddString(name ? name : "");
    if (arguments)
        list.AddString(arguments);
    else
        list.AddNull();
    if (owner && owner->HasClientArgument())
        list.AddObject(client ? owner->ToClientObject(client) : nullptr);
    // A failing script handler still counts as having handled the command.
    Strong<CFunction> function = m_pFunction;
    CResourceCallScope scope(owner ? owner->GetCallObserver() : nullptr, GetResource());
    function->Call(list, nullptr);
}

void CUnhandledCommandHandler::Execute(const char* name, const char*, CNetMachine* client, Logger* logger)
{
    if (client && !IsConsole(client))
        return;
    if (!logger && GetOwner())
        logger = GetOwner()->GetLogger();
    if (logger)
        logger->LogFormatted(LOG_ERROR,
                             "'%s' is not recognized as an internal or external command, operable program or batch "
                             "file.",
                             name ? name : "");
}

uint32_t CCommandHandlers::HashName(const char* name)
{
    return CRC32Hash::HashString(name ? name : "", true);
}

CCommandHandlers::CCommandHandlers(CScripting* scripting) : m_pScripting(scripting)
{
    RegisterFunctions();
}

CCommandHandlers::~CCommandHandlers()
{
    // Handlers go before the logger they may still hold.
    m_Handlers.clear();
    m_pUnhandled = nullptr;
}

bool CCommandHandlers::AddCommandHandler(Strong<CCommandHandler> handler, const char* name, CResource* resource)
{
    if (!handler || !name)
        return false;
    const uint32_t hash = HashName(name);
    if (m_Handlers.count(hash))
        return false;
    handler->m_pOwner = this;
    handler->m_uiNameHash = hash;
    handler->m_name = name;
    Admit(handler->m_Entry, resource);
    m_Handlers.emplace(hash, std::move(handler));
    return true;
}

CCommandHandler* CCommandHandlers::GetCommandHandler(const char* name) const
{
    auto found = m_Handlers.find(HashName(name));
    return found == m_Handlers.end() ? nullptr : found->second.Get();
}

std::vector<CCommandHandler*> CCommandHandlers::GetCommandHandlers() const
{
    std::vector<CCommandHandler*> handlers;
    handlers.reserve(m_Handlers.size());
    for (const auto& [hash, handler] : m_Handlers)
        handlers.push_back(handler.Get());
    return handlers;
}

void CCommandHandlers::Retire(std::unordered_map<uint32_t, Strong<CCommandHandler>>::iterator found)
{
    // The name is free again at once (a handler may replace itself); the handler object lives
    // on until the walks end, so a running one finishes with its function intact.
    Strong<CCommandHandler> handler = std::move(found->second);
    m_Handlers.erase(found);
    MarkRemoved(handler->m_Entry);
    KeepUntilWalksEnd(Strong<CRefCounted>(std::move(handler)));
}

bool CCommandHandlers::RemoveCommandHandler(const char* name)
{
    auto found = m_Handlers.find(HashName(name));
    if (found == m_Handlers.end())
        return false;
    Retire(found);
    return true;
}

size_t CCommandHandlers::RemoveHandlers(CResource* resource)
{
    if (!resource)
        return 0;
    size_t removed = 0;
    for (auto it = m_Handlers.begin(); it != m_Handlers.end();) {
        auto next = std::next(it);
        if (it->second->GetResource() == resource) {
            Retire(it);
            ++removed;
        }
        it = next;
    }
    return removed;
}

CBaseObject* CCommandHandlers::ToClientObject(CNetMachine* client) const
{
    return m_ClientObject && client ? m_ClientObject(client) : nullptr;
}

bool CCommandHandlers::IsPrivileged(CResource* resource) const
{
    return resource && m_PrivilegeCheck && m_PrivilegeCheck(resource);
}

bool CCommandHandlers::Trigger(const char* name, const char* arguments, CNetMachine* client, bool allowConsoleOnly,
                               Logger* logger)
{
    CCommandHandler* found = GetCommandHandler(name);
    if (!found)
        return false;
    if (found->IsConsoleOnly() && !allowConsoleOnly)
        return false;

    char buffer[MaxArgumentLength + 1];
    const char* text = nullptr;
    if (arguments) {
        size_t length = strnlen(arguments, MaxArgumentLength);
        std::memcpy(buffer, arguments, length);
        while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n'))
            --length;
        buffer[length] = '\0';
        text = buffer;
    }

    Strong<CCommandHandler> running(found);
    CWalk walk(*this);
    running->Execute(name, text, client, logger ? logger : GetLogger());
    return true;
}

bool CCommandHandlers::RunUnhandled(const char* name, const char* arguments, CNetMachine* client,
                                    bool allowConsoleOnly, Logger* logger)
{
    if (!m_pUnhandled || (m_pUnhandled->IsConsoleOnly() && !allowConsoleOnly))
        return false;
    Strong<CCommandHandler> running = m_pUnhandled;
    CWalk walk(*this);
    running->Execute(name, arguments, client, logger ? logger : GetLogger());
    return true;
}

bool CCommandHandlers::ConsoleCommandOnly(const char* line, CNetMachine* client, bool allowConsoleOnly,
                                          Logger* logger)
{
    if (!line)
        return false;
    char buffer[MaxLineLength + 1];
    const size_t length = strnlen(line, MaxLineLength);
    std::memcpy(buffer, line, length);
    buffer[length] = '\0';

    const size_t nameEnd = std::strcspn(buffer, " \r\n");
    const char* arguments = nullptr;
    if (buffer[nameEnd] != '\0') {
        buffer[nameEnd] = '\0';
        // Everything after the one separator, further blanks included.
        arguments = buffer + nameEnd + 1;
    }

    bool ran = false;
    if (!arguments)
        ran = Trigger(buffer, nullptr, client, allowConsoleOnly, logger);
    else if (std::strlen(arguments) <= MaxArgumentLength)
        ran = Trigger(buffer, arguments, client, allowConsoleOnly, logger);
    if (ran)
        return true;
    RunUnhandled(buffer, arguments, client, allowConsoleOnly, logger);
    return false;
}

bool CCommandHandlers::ConsoleCommand(const char* line, bool allowConsoleOnly, Logger* logger)
{
    if (!line)
        return false;
    const size_t length = strnlen(line, MaxArgumentLength + 1);
    if (length == 0 || length > MaxArgumentLength)
        return false;
    if (line[0] == '/') {
        if (line[1] == '\0')
            return false;
        return ConsoleCommandOnly(line + 1, nullptr, allowConsoleOnly, logger);
    }
    if (Trigger("say", line, nullptr, allowConsoleOnly, logger))
        return true;
    RunUnhandled("say", line, nullptr, allowConsoleOnly, logger);
    return false;
}

} // namespace Corvane3D
