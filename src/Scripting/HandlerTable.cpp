#include "Scripting/HandlerTable.h"

#include "Engine/Assert.h"

namespace Corvane3D {

CHandlerTable::CWalk::~CWalk()
{
    if (--m_table.m_iIterating == 0)
        m_table.EndOfWalks();
}

CHandlerTable::~CHandlerTable()
{
    CORVANE_ASSERT(m_iIterating == 0);
}

void CHandlerTable::Admit(CHandlerEntry& entry, CResource* resource)
{
    entry.m_pResource = resource;
    entry.m_uiSerial = ++m_uiSerial;
    entry.m_bRemoved = false;
}

bool CHandlerTable::MarkRemoved(CHandlerEntry& entry)
{
    if (entry.m_bRemoved)
        return false;
    entry.m_bRemoved = true;
    return true;
}

void CHandlerTable::KeepUntilWalksEnd(Strong<CRefCounted> handler)
{
    if (m_iIterating > 0)
        m_Retired.push_back(std::move(handler));
}

void CHandlerTable::EndOfWalks()
{
    FinishedIterating();
    // Releasing a handler may run destructors that walk the table again; take the list first.
    std::vector<Strong<CRefCounted>> retired;
    retired.swap(m_Retired);
}

} // namespace Corvane3D
