#include "Scripting/ResourceMgr.h"

namespace Corvane3D {

CResourceMgr::CResourceMgr(Context* context)
    : m_pContext(context),
      m_pScripting(std::make_unique<CScripting>()),
      m_pEventHandlers(std::make_unique<EventHandlers::CEventHandlers>(m_pScripting.get())),
      m_pCommandHandlers(std::make_unique<CCommandHandlers>(m_pScripting.get())),
      m_pTimers(std::make_unique<TimerHandlers::CTimerHandlers>(m_pScripting.get()))
{
}

CResourceMgr::~CResourceMgr()
{
    // Handler tables hold script functions of the engines: drop them before the engines go.
    m_pTimers->RemoveTimers(nullptr);
    m_pEventHandlers->RemoveHandlers(nullptr);
    m_pTimers.reset();
    m_pCommandHandlers.reset();
    m_pEventHandlers.reset();
    m_pScripting.reset();
}

} // namespace Corvane3D
