#include "ServerResourceMgr.h"

using namespace Corvane3D;

CServerResourceMgr::CServerResourceMgr(Context* context, CBaseServer* server) : CResourceMgr(context), m_pServer(server)
{
    RegisterFunctions(GetScripting());
    CreateResourceEventTypes();
    SetServerSide(true);
}

CServerResourceMgr::~CServerResourceMgr()
{
    // Stopping runs the overrides above, which must not run once this part is gone.
    ClearAllResources();
}

void CServerResourceMgr::RefreshResourceState(CResource* resource)
{
    (void)resource;
}

void CServerResourceMgr::RemoveThingsAssociatedWithResource(CResource* resource)
{
    (void)resource;
}
