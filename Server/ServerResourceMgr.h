#pragma once
// The server's resource manager: the base manager with the server's script functions and events,
// tied to the game server. Telling clients about resources and removing a stopped resource's
// networked elements come with the networked layers; their hooks are marked below.

#include "Scripting/ResourceMgr.h"

class CBaseServer;

class CServerResourceMgr : public Corvane3D::CResourceMgr {
public:
    // Builds the whole scripting side every server has: tables, defines, the resource functions
    // and the resource events; starts run server scripts.
    CServerResourceMgr(Corvane3D::Context* context, CBaseServer* server);
    ~CServerResourceMgr() override;

    CBaseServer* GetServer() const { return m_pServer; }

    // Clients learn of started resources (message 8 with the client-info record) and stopped ones
    // (message 9 with the name's key) once client joining and the download server exist; until
    // then there is nobody to tell.
    void RefreshResourceState(Corvane3D::CResource* resource) override;
    // The resource's networked elements and network handlers go here once those exist.
    void RemoveThingsAssociatedWithResource(Corvane3D::CResource* resource) override;

private:
    CBaseServer* m_pServer;
};
