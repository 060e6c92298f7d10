#pragma once
// The one mechanism every handler table shares (events, commands, timers, key binds): handlers
// are reference counted and the one being called is held for the length of its call; a table
// counts how deeply it is being walked, and while it is walked removals only mark handlers, which
// are erased when the outermost walk ends; a walk never reaches handlers added after it began.
// So a handler may remove or replace itself or any other handler, or stop its whole resource,
// without freeing code that is still running.

#include "Engine/CorvaneReference.h"
#include "Engine/RefCounted.h"

#include <cstdint>
#include <vector>

namespace Corvane3D {

class CResource;

// Told when a table calls into a resource's script code and when that call has returned. The
// resource manager watches this so that a resource stopped from inside its own code is stopped
// only once that code is no longer on the stack.
class IResourceCallObserver {
public:
    virtual ~IResourceCallObserver() = default;
    virtual void EnterResource(CResource* resource) = 0;
    virtual void LeaveResource(CResource* resource) = 0;
};

// Brackets one call into a resource's code; does nothing without an observer or a resource.
class CResourceCallScope {
public:
    CResourceCallScope(IResourceCallObserver* observer, CResource* resource)
        : m_pObserver(resource ? observer : nullptr), m_pResource(resource)
    {
        if (m_pObserver)
            m_pObserver->EnterResource(m_pResource);
    }
    ~CResourceCallScope()
    {
        if (m_pObserver)
            m_pObserver->LeaveResource(m_pResource);
    }
    CResourceCallScope(const CResourceCallScope&) = delete;
    CResourceCallScope& operator=(const CResourceCallScope&) = delete;

private:
    IResourceCallObserver* m_pObserver;
    CResource* m_pResource;
};

// What a table records in each of its handlers.
class CHandlerEntry {
public:
    // The resource that registered the handler; null for native code.
    CResource* GetResource() const { return m_pResource; }
    bool IsRemoved() const { return m_bRemoved; }

private:
    friend class CHandlerTable;

    CResource* m_pResource = nullptr;
    // Order of admission; a walk reaches only handlers admitted before it started.
    uint64_t m_uiSerial = 0;
    bool m_bRemoved = false;
};

class CHandlerTable {
public:
    // One walk over the table (a trigger, a command, a timer pass). Nested walks are allowed.
    class CWalk {
    public:
        explicit CWalk(CHandlerTable& table) : m_table(table), m_uiLimit(table.m_uiSerial) { ++table.m_iIterating; }
        ~CWalk();
        CWalk(const CWalk&) = delete;
        CWalk& operator=(const CWalk&) = delete;

        // Whether this walk may call the handler: not removed, and admitted before the walk began.
        bool Reaches(const CHandlerEntry& entry) const { return !entry.m_bRemoved && entry.m_uiSerial <= m_uiLimit; }

    private:
        CHandlerTable& m_table;
        uint64_t m_uiLimit;
    };

    CHandlerTable(const CHandlerTable&) = delete;
    CHandlerTable& operator=(const CHandlerTable&) = delete;

    int GetIterationDepth() const { return m_iIterating; }
    // Null until the resource manager installs itself.
    IResourceCallObserver* GetCallObserver() const { return m_pCallObserver; }
    void SetCallObserver(IResourceCallObserver* observer) { m_pCallObserver = observer; }
    bool IsIterating() const { return m_iIterating > 0; }

protected:
    CHandlerTable() = default;
    // Tables must not be destroyed from inside their own walk.
    virtual ~CHandlerTable();

    // Records the handler's owner and its place in the order of admission.
    void Admit(CHandlerEntry& entry, CResource* resource);
    // Marks the handler removed; false when it already was. While the table is walked, the
    // caller leaves it where it is (FinishedIterating erases it) or hands it to KeepUntilWalksEnd.
    bool MarkRemoved(CHandlerEntry& entry);
    // Keeps a handler that has already left the table's storage alive until the outermost walk
    // ends; outside a walk it is released at once.
    void KeepUntilWalksEnd(Strong<CRefCounted> handler);
    // Erases every handler marked during the walks; runs when the outermost walk ends.
    virtual void FinishedIterating() = 0;

private:
    void EndOfWalks();

    int m_iIterating = 0;
    uint64_t m_uiSerial = 0;
    IResourceCallObserver* m_pCallObserver = nullptr;
    std::vector<Strong<CRefCounted>> m_Retired;
};

} // namespace Corvane3D
