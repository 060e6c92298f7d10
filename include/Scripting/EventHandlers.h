#pragma once
// Events: named occurrences the server and scripts raise, and the handlers subscribed to them.
// Names are case-insensitive (keyed by the CRC-32 of the lower-cased name). Handlers run in
// subscription order; bound handlers only for occurrences concerning their source object.

#include "Engine/CorvaneNative.h"
#include "Scripting/HandlerTable.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace Corvane3D {

class CScripting;
class ReflectedClass;

namespace EventHandlers {

class CEventHandlers;
class CEventType;

// The object handlers receive (class "Event").
class CEvent : public CBaseObject {
public:
    CEvent(CEventType* type, ReflectedClass* cls);

    // The event type stays alive as long as any event object of it.
    CEventType* GetType() const { return m_pType.Get(); }

protected:
    ~CEvent() override;

private:
    Strong<CEventType> m_pType;
};

// An event whose handlers may veto the server's default action (class "CancellableEvent").
class CCancellableEvent : public CEvent {
public:
    using CEvent::CEvent;

    void PreventDefault() { m_bDefaultPrevented = true; }
    bool IsDefaultPrevented() const { return m_bDefaultPrevented; }

private:
    bool m_bDefaultPrevented = false;
};

class CEventHandler : public CRefCounted {
public:
    virtual void Execute(CEvent* event, const CArgumentArray& arguments) = 0;

    // Bound handlers run only for occurrences whose source is their source object.
    bool IsBound() const { return m_bBound; }
    // Null for an unbound handler and for a bound one whose source has died.
    CBaseObject* GetSource() const { return m_pSource.Get(); }
    CResource* GetResource() const { return m_Entry.GetResource(); }
    bool IsRemoved() const { return m_Entry.IsRemoved(); }
    // The table the handler was added to; null before.
    CEventHandlers* GetOwner() const { return m_pOwner; }

protected:
    // A null source makes an unbound handler.
    explicit CEventHandler(CBaseObject* source = nullptr);

private:
    friend class CEventType;
    friend class CEventHandlers;

    CEventHandlers* m_pOwner = nullptr;
    Weak<CBaseObject> m_pSource;
    bool m_bBound;
    CHandlerEntry m_Entry;
};

// Calls a script function with the event object followed by clones of the trigger's arguments.
class CScriptEventHandler : public CEventHandler {
public:
    CScriptEventHandler(CFunction* function, CBaseObject* source = nullptr);

    void Execute(CEvent* event, const CArgumentArray& arguments) override;
    CFunction* GetFunction() const { return m_pFunction.Get(); }

private:
    Strong<CFunction> m_pFunction;
};

class CEventType : public CRefCounted {
public:
    static constexpr int32_t NoArgumentCount = -1;
    static constexpr int32_t NoSource = -1;

    // Runs the handlers with a plain event; true when any handler ran.
    bool Trigger(const CArgumentArray& arguments);
    // Runs the handlers with a cancellable event and reports whether one prevented the default.
    bool Trigger(const CArgumentArray& arguments, bool& defaultPrevented);
    bool TriggerWithEvent(CEvent* event, const CArgumentArray& arguments);

    // Appends a handler owned by `resource`. A bound handler is refused by a type without a
    // source index.
    bool AddHandler(Strong<CEventHandler> handler, CResource* resource);
    // The handlers `resource` added, or all of them for null; returns how many were removed.
    size_t RemoveHandlers(CResource* resource);
    size_t RemoveHandlers() { return RemoveHandlers(nullptr); }
    // The handlers bound to `source` (only those of `resource` when one is given); a null source
    // removes nothing.
    size_t RemoveHandlersWithSource(CBaseObject* source, CResource* resource);
    // Handlers not yet removed.
    size_t GetHandlerCount() const;

    uint32_t GetNameHash() const { return m_uiNameHash; }
    const char* GetName() const { return m_name.c_str(); }
    const char* GetDescription() const { return m_description.c_str(); }
    int32_t GetArgumentCount() const { return m_iArgumentCount; }
    bool IsCancellable() const { return m_bCancellable; }
    void SetCancellable(bool cancellable) { m_bCancellable = cancellable; }
    // Which trigger argument is the occurrence's source object; only types with one accept
    // bound handlers.
    int32_t GetSourceIndex() const { return m_iSourceIndex; }
    void SetSourceIndex(int32_t index) { m_iSourceIndex = index; }
    bool IsBindable() const { return m_iSourceIndex >= 0; }

private:
    friend class CEventHandlers;
    CEventType(CEventHandlers* owner, uint32_t nameHash, const char* name, const char* description,
               int32_t argumentCount, bool cancellable);
    ~CEventType() override;

    // Marks (during a walk) or erases the matching handlers.
    template <typename Predicate>
    size_t RemoveWhere(Predicate matches);
    void EraseMarked(std::vector<Strong<CEventHandler>>& dropped);

    CEventHandlers* m_pOwner;
    std::vector<Strong<CEventHandler>> m_Handlers;
    uint32_t m_uiNameHash;
    std::string m_name;
    std::string m_description;
    int32_t m_iArgumentCount;
    bool m_bCancellable;
    int32_t m_iSourceIndex = NoSource;
};

// One per server: every event type, the classes "Event" and "CancellableEvent", and the natives
// scripts use to declare, handle and raise events.
class CEventHandlers : public CHandlerTable {
public:
    // Registers the classes and natives in the core's root namespace.
    explicit CEventHandlers(CScripting* scripting);
    ~CEventHandlers() override;

    // A new type (source index none), or null when a type of that name (in any letter case)
    // exists already.
    CEventType* CreateEventType(const char* name, const char* description, int32_t argumentCount, bool cancellable);
    CEventType* GetEventType(const char* name) const;
    CEventType* GetEventType(uint32_t nameHash) const;
    size_t GetEventTypeCount() const { return m_Types.size(); }
    // Every type in the table's own order.
    std::vector<CEventType*> GetEventTypes() const;

    // On every type: what the resource added (everything for null), when it stops.
    size_t RemoveHandlers(CResource* resource);
    // On every type: the handlers bound to a source object that is going away.
    size_t RemoveHandlersWithSource(CBaseObject* source, CResource* resource);

    // Declares the event types the server itself raises, with their descriptions, argument
    // counts, cancellable marks and source indices. False when one already existed.
    bool CreateServerEventTypes();

    ReflectedClass* GetEventClass() const { return m_pEventClass; }
    ReflectedClass* GetCancellableEventClass() const { return m_pCancellableEventClass; }
    CScripting* GetScripting() const { return m_pScripting; }

    static uint32_t HashName(const char* name);

private:
    friend class CEventType;

    void RegisterFunctions();
    void Admit(CEventHandler& handler, CResource* resource);
    bool Remove(CEventHandler& handler);
    void FinishedIterating() override;

    CScripting* m_pScripting;
    std::unordered_map<uint32_t, Strong<CEventType>> m_Types;
    ReflectedClass* m_pEventClass = nullptr;
    ReflectedClass* m_pCancellableEventClass = nullptr;
    bool m_bHasMarked = false;
};

} // namespace EventHandlers
} // namespace Corvane3D
