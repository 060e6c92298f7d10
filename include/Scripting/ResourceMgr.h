#pragma once
// Owns the scripting core and its handler tables, and the resources of the server.

#include "Engine/Scripting.h"
#include "Scripting/CommandHandlers.h"
#include "Scripting/EventHandlers.h"
#include "Scripting/TimerHandlers.h"

#include <memory>

namespace Corvane3D {

class Context;

class CResourceMgr {
public:
    explicit CResourceMgr(Context* context);
    virtual ~CResourceMgr();
    CResourceMgr(const CResourceMgr&) = delete;
    CResourceMgr& operator=(const CResourceMgr&) = delete;

    Context* GetContext() const { return m_pContext; }
    CScripting* GetScripting() const { return m_pScripting.get(); }
    EventHandlers::CEventHandlers* GetEventHandlers() const { return m_pEventHandlers.get(); }
    CCommandHandlers* GetCommandHandlers() const { return m_pCommandHandlers.get(); }
    TimerHandlers::CTimerHandlers* GetTimers() const { return m_pTimers.get(); }

private:
    Context* m_pContext;
    // Declared first so it is destroyed last: the tables register natives in it.
    std::unique_ptr<CScripting> m_pScripting;
    std::unique_ptr<EventHandlers::CEventHandlers> m_pEventHandlers;
    std::unique_ptr<CCommandHandlers> m_pCommandHandlers;
    std::unique_ptr<TimerHandlers::CTimerHandlers> m_pTimers;
};

} // namespace Corvane3D
