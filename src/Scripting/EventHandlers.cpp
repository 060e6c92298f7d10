#include "Scripting/EventHandlers.h"

#include "Engine/Assert.h"
#include "Engine/CRC32Hash.h"
#include "Engine/Context.h"
#include "Engine/Scripting.h"

#include <algorithm>

namespace Corvane3D::EventHandlers {

CEvent::CEvent(CEventType* type, ReflectedClass* cls) : m_pType(type)
{
    SetReflectedClass(cls);
}

CEvent::~CEvent() = default;

CEventHandler::CEventHandler(CBaseObject* source) : m_pSource(source), m_bBound(source != nullptr) {}

CScriptEventHandler::CScriptEventHandler(CFunction* function, CBaseObject* source)
    : CEventHandler(source), m_pFunction(function)
{
}

void CScriptEventHandler::Execute(CEvent* event, const CArgumentArray& arguments)
{
    if (!m_pFunction)
        return;
    CArgumentArray list(arguments.GetArrayCount() + 1);
    list.AddAndOwn(MakeStrong<CArgumentObject>(event));
    arguments.InsertTo(list);
    // The function's result and success do not matter to the dispatch.
    Strong<CFunction> function = m_pFunction;
    CResourceCallScope scope(GetOwner() ? GetOwner()->GetCallObserver() : nullptr, GetResource());
    function->Call(list, nullptr);
}

CEventType::CEventType(CEventHandlers* owner, uint32_t nameHash, const char* name, const char* description,
                       int32_t argumentCount, bool cancellable)
    : m_pOwner(owner),
      m_uiNameHash(nameHash),
      m_name(name ? name : ""),
      m_description(description ? description : ""),
      m_iArgumentCount(argumentCount),
      m_bCancellable(cancellable)
{
}

CEventType::~CEventType() = default;

bool CEventType::Trigger(const CArgumentArray& arguments)
{
    auto event = MakeStrong<CEvent>(this, m_pOwner ? m_pOwner->GetEventClass() : nullptr);
    return TriggerWithEvent(event, arguments);
}

bool CEventType::Trigger(const CArgumentArray& arguments, bool& defaultPrevented)
{
    if (!m_bCancellable) {
        if (Context* context = GetContext())
            context->LogWarn("Trigger: Event '%s' used with 'preventDefault' but not registered that way",
                             m_name.c_str());
    }
    auto event = MakeStrong<CCancellableEvent>(this, m_pOwner ? m_pOwner->GetCancellableEventClass() : nullptr);
    const bool ran = TriggerWithEvent(event, arguments);
    defaultPrevented = event->IsDefaultPrevented();
    return ran;
}

bool CEventType::TriggerWithEvent(CEvent* event, const CArgumentArray& arguments)
{
    const size_t given = arguments.GetArrayCount();
    if (m_iArgumentCount >= 0 && given < size_t(m_iArgumentCount)) {
        if (Context* context = GetContext())
            context->LogWarn("TriggerWithEvent: Event '%s' triggered with %d arguments but requires %d arguments",
                             m_name.c_str(), int(given), m_iArgumentCount);
    }

    CBaseObject* source = nullptr;
    if (m_iSourceIndex >= 0) {
        const CArgument* sourceArgument = arguments.GetAt(size_t(m_iSourceIndex));
        if (sourceArgument && !sourceArgument->IsNull()) {
            if (sourceArgument->IsObject())
                source = sourceArgument->ToObject();
            else
                ReportAssertion(__FILE__, __PRETTY_FUNCTION__, __LINE__, "pSourceArgument->IsObject()");
        }
    }
    // Handlers may take the last other reference to the source away; it stays the key of this
    // occurrence until the walk ends.
    Strong<CBaseObject> holdSource(source);

    CHandlerTable::CWalk walk(*m_pOwner);
    bool ran = false;
    // Indices stay valid: during the walk removals only mark and additions only append.
    for (size_t i = 0; i < m_Handlers.size(); ++i) {
        Strong<CEventHandler> handler = m_Handlers[i];
        if (!walk.Reaches(handler->m_Entry))
            continue;
        if (handler->m_bBound) {
            CBaseObject* handlerSource = handler->m_pSource.Get();
            if (!handlerSource) {
                // Its source died without the clean-up removing it: it must not start running for
                // every occurrence as if it were unbound.
                m_pOwner->Remove(*handler);
                continue;
            }
            if (handlerSource != source)
                continue;
        }
        ran = true;
        handler->Execute(event, arguments);
    }
    return ran;
}

bool CEventType::AddHandler(Strong<CEventHandler> handler, CResource* resource)
{
    if (!handler || (handler->m_bBound && !IsBindable()))
        return false;
    handler->m_pOwner = m_pOwner;
    m_pOwner->Admit(*handler, resource);
    m_Handlers.push_back(std::move(handler));
    return true;
}

template <typename Predicate>
size_t CEventType::RemoveWhere(Predicate matches)
{
    size_t removed = 0;
    // Removed handlers are released only after the loop: a handler's destructor must not see
    // the list half-edited.
    std::vector<Strong<CEventHandler>> dropped;
    for (const Strong<CEventHandler>& handler : m_Handlers) {
        if (!handler->m_Entry.IsRemoved() && matches(*handler) && m_pOwner->Remove(*handler))
            ++removed;
    }
    if (removed > 0 && !m_pOwner->IsIterating())
        EraseMarked(dropped);
    return removed;
}

void CEventType::EraseMarked(std::vector<Strong<CEventHandler>>& dropped)
{
    auto firstRemoved = std::stable_partition(m_Handlers.begin(), m_Handlers.end(),
                                              [](const Strong<CEventHandler>& handler) {
                                                  return !handler->m_Entry.IsRemoved();
                                              });
    std::move(firstRemoved, m_Handlers.end(), std::back_inserter(dropped));
    m_Handlers.erase(firstRemoved, m_Handlers.end());
}

size_t CEventType::RemoveHandlers(CResource* resource)
{
    return RemoveWhere([resource](const CEventHandler& handler) {
        return !resource || handler.GetResource() == resource;
    });
}

size_t CEventType::RemoveHandlersWithSource(CBaseObject* source, CResource* resource)
{
    if (!source)
        return 0;
    return RemoveWhere([source, resource](const CEventHandler& handler) {
        return handler.m_bBound && handler.m_pSource.Get() == source &&
               (!resource || handler.GetResource() == resource);
    });
}

size_t CEventType::GetHandlerCount() const
{
    return size_t(std::count_if(m_Handlers.begin(), m_Handlers.end(), [](const Strong<CEventHandler>& handler) {
        return !handler->m_Entry.IsRemoved();
    }));
}

uint32_t CEventHandlers::HashName(const char* name)
{
    return CRC32Hash::HashString(name ? name : "", true);
}

CEventHandlers::CEventHandlers(CScripting* scripting) : m_pScripting(scripting)
{
    RegisterFunctions();
}

CEventHandlers::~CEventHandlers()
{
    RemoveHandlers(nullptr);
}

CEventType* CEventHandlers::CreateEventType(const char* name, const char* description, int32_t argumentCount,
                                            bool cancellable)
{
    const uint32_t hash = HashName(name);
    if (m_Types.count(hash))
        return nullptr;
    Strong<CEventType> type(new CEventType(this, hash, name, description, argumentCount, cancellable), Adopt);
    CEventType* raw = type.Get();
    m_Types.emplace(hash, std::move(type));
    return raw;
}

CEventType* CEventHandlers::GetEventType(const char* name) const
{
    return GetEventType(HashName(name));
}

CEventType* CEventHandlers::GetEventType(uint32_t nameHash) const
{
    auto found = m_Types.find(nameHash);
    return found == m_Types.end() ? nullptr : found->second.Get();
}

std::vector<CEventType*> CEventHandlers::GetEventTypes() const
{
    std::vector<CEventType*> types;
    types.reserve(m_Types.size());
    for (const auto& [hash, type] : m_Types)
        types.push_back(type.Get());
    return types;
}

size_t CEventHandlers::RemoveHandlers(CResource* resource)
{
    size_t removed = 0;
    for (const auto& [hash, type] : m_Types)
        removed += type->RemoveHandlers(resource);
    return removed;
}

size_t CEventHandlers::RemoveHandlersWithSource(CBaseObject* source, CResource* resource)
{
    size_t removed = 0;
    for (const auto& [hash, type] : m_Types)
        removed += type->RemoveHandlersWithSource(source, resource);
    return removed;
}

void CEventHandlers::Admit(CEventHandler& handler, CResource* resource)
{
    CHandlerTable::Admit(handler.m_Entry, resource);
}

bool CEventHandlers::Remove(CEventHandler& handler)
{
    if (!MarkRemoved(handler.m_Entry))
        return false;
    if (IsIterating())
        m_bHasMarked = true;
    return true;
}

void CEventHandlers::FinishedIterating()
{
    if (!m_bHasMarked)
        return;
    m_bHasMarked = false;
    std::vector<Strong<CEventHandler>> dropped;
    for (const auto& [hash, type] : m_Types)
        type->EraseMarked(dropped);
    // `dropped` releases the handlers (and their functions) here, after every list is consistent.
}

namespace {

struct tServerEventType {
    const char* name;
    const char* description;
    int32_t argumentCount;
    bool cancellable;
    int32_t sourceIndex;
};

constexpr int32_t None = CEventType::NoSource;

const tServerEventType g_ServerEventTypes[] = {
    {"OnElementStreamIn", "Called when an element is about to stream in", 2, true, 0},
    {"OnElementStreamOut", "Called when an element is about to stream out", 2, true, 0},
    {"OnElementDestroy", "Called when an element is about to be destroyed", 1, true, 0},
    {"OnElementSetData", "Called when an element data is set", 3, false, 0},
    {"OnElementRemoveData", "Called when an element data is removed", 2, false, 0},
    {"OnPedCrouch", "Called when a ped starts crouching", 1, false, None},
    {"OnPedEnterVehicle", "Called when a ped is entering a vehicle.", 3, true, None},
    {"OnPedExitVehicle", "Called when a ped is exiting a vehicle.", 2, true, None},
    {"OnPedFall", "Called when a ped starts falling to floor", 4, false, None},
    {"OnPedJump", "Called when a ped starts jumping", 1, false, None},
    {"OnPedSpawn", "Called when a ped is spawned.", 1, false, None},
    {"OnPedUncrouch", "Called when a ped starts uncrouching", 1, false, None},
    {"OnPedWasted", "Called when a ped is wasted.", 5, false, None},
    {"OnPickupCollected", "Called when a pickup is collected", 2, false, None},
    {"OnRequestSession", "Called when a session is requested", 2, true, 0},
    {"OnAddIVNetworkEvent", "Called when IV adds a network event", 5, false, 0},
    {"OnPlayerConnect", "Called when a player is attempting to connect", 1, true, None},
    {"OnPlayerJoin", "Called when a player has connected and is joining", 1, false, None},
    {"OnPlayerJoined", "Called when the player has joined the game", 1, false, None},
    {"OnPlayerQuit", "Called when a player disconnects", 2, false, None},
    {"OnPlayerChat", "Called when a player chats", 2, true, None},
    {"OnPlayerCommand", "Called when a player types a command", 3, true, None},
    {"OnProcess", "Called every process", 1, false, None},
    {"OnServerStart", "Called when the server finished the start sequence", 0, false, None},
    {"OnResourceStart", "Called when a resource starts", 1, true, 0},
    {"OnResourceStop", "Called when a resource stops", 2, true, 0},
};

} // namespace

bool CEventHandlers::CreateServerEventTypes()
{
    bool allCreated = true;
    for (const tServerEventType& entry : g_ServerEventTypes) {
        CEventType* type = CreateEventType(entry.name, entry.description, entry.argumentCount, entry.cancellable);
        if (!type) {
            allCreated = false;
            continue;
        }
        type->SetSourceIndex(entry.sourceIndex);
    }
    return allCreated;
}

} // namespace Corvane3D::EventHandlers
