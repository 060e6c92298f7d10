// The script functions that reach resources, their exports and their files.

#include "Scripting/ResourceMgr.h"

#include "Engine/TextStream.h"

namespace Corvane3D {

namespace {

CResourceMgr* Manager(void* privateData)
{
    return static_cast<CResourceMgr*>(privateData);
}

bool GetPlatform(CNativeState* state, int, void*)
{
    state->ReturnString("Linux");
    return true;
}

bool GetThisResource(CNativeState* state, int, void*)
{
    state->ReturnObject(state->GetResource());
    return true;
}

bool FunctionFindResourceByName(CNativeState* state, int, void* privateData)
{
    const char* name = nullptr;
    if (!state->CheckString(0, name))
        return false;
    state->ReturnObject(Manager(privateData)->FindResourceByName(name));
    return true;
}

bool FunctionGetResources(CNativeState* state, int, void* privateData)
{
    const std::vector<Strong<CResource>> resources = Manager(privateData)->GetResources();
    auto list = MakeStrong<CArgumentArray>(resources.size());
    for (const Strong<CResource>& resource : resources)
        list->AddObject(resource);
    state->ReturnAndOwn(std::move(list));
    return true;
}

bool FunctionExportFunction(CNativeState* state, int, void*)
{
    const char* name = nullptr;
    CFunction* function = nullptr;
    if (!state->CheckString(0, name) || !state->CheckFunction(1, function))
        return false;
    if (!function)
        return state->ArgumentError("Function", 1);
    CResource* resource = state->GetResource();
    if (!resource)
        return state->Error("exportFunction needs a calling resource");
    state->ReturnBoolean(resource->ExportFunction(name, function));
    return true;
}

bool FunctionOpenFile(CNativeState* state, int, void*)
{
    const char* path = nullptr;
    bool writable = false;
    if (!state->CheckString(0, path))
        return false;
    if (state->GetArgumentCount() > 1 && !state->CheckBoolean(1, writable))
        return false;
    CResource* resource = state->GetResource();
    Strong<Stream> stream = resource ? resource->OpenFile(path, writable) : nullptr;
    state->ReturnStream(stream);
    return true;
}

bool FunctionCreateFile(CNativeState* state, int, void*)
{
    const char* path = nullptr;
    if (!state->CheckString(0, path))
        return false;
    CResource* resource = state->GetResource();
    Strong<Stream> stream = resource ? resource->CreateFile(path) : nullptr;
    state->ReturnStream(stream);
    return true;
}

bool FunctionFileExists(CNativeState* state, int, void*)
{
    const char* path = nullptr;
    bool file = true;
    bool directory = true;
    if (!state->CheckString(0, path))
        return false;
    if (state->GetArgumentCount() > 1 && !state->CheckBoolean(1, file))
        return false;
    if (state->GetArgumentCount() > 2 && !state->CheckBoolean(2, directory))
        return false;
    CResource* resource = state->GetResource();
    state->ReturnBoolean(resource && resource->FileExists(path, file, directory));
    return true;
}

bool FunctionLoadTextFile(CNativeState* state, int, void*)
{
    const char* path = nullptr;
    if (!state->CheckString(0, path))
        return false;
    CResource* resource = state->GetResource();
    Strong<Stream> stream = resource ? resource->OpenFile(path, false) : nullptr;
    if (!stream) {
        state->ReturnNull();
        return true;
    }
    CTextReader reader(stream);
    size_t length = 0;
    const char* text = reader.LoadText(&length);
    if (text)
        state->ReturnString(text, length);
    else
        state->ReturnString("", 0);
    return true;
}

bool FunctionSaveTextFile(CNativeState* state, int, void*)
{
    const char* path = nullptr;
    const char* text = nullptr;
    size_t length = 0;
    if (!state->CheckString(0, path) || !state->CheckString(1, text, &length))
        return false;
    CResource* resource = state->GetResource();
    Strong<Stream> stream = resource ? resource->CreateFile(path) : nullptr;
    if (!stream) {
        state->ReturnNull();
        return true;
    }
    CTextWriter writer(stream);
    const bool written = writer.Write(text, length) && stream->Flush();
    state->ReturnBoolean(written);
    return true;
}

bool GetThisResourceObject(CNativeState* state, CResourceMgr* manager, CResource*& out)
{
    return state->GetThis(manager->GetResourceClass(), out);
}

#define RESOURCE_GETTER(Name, Body)                                                                                  \
    bool Name(CNativeState* state, int, void* privateData)                                                            \
    {                                                                                                                \
        CResource* resource = nullptr;                                                                               \
        if (!GetThisResourceObject(state, Manager(privateData), resource))                                           \
            return false;                                                                                            \
        Body;                                                                                                        \
        return true;                                                                                                 \
    }

RESOURCE_GETTER(GetResourceName, state->ReturnString(resource->GetName().c_str()))
RESOURCE_GETTER(GetResourceVersion, state->ReturnString(resource->GetVersion().c_str()))
RESOURCE_GETTER(GetResourceAuthor, state->ReturnString(resource->GetAuthor().c_str()))
RESOURCE_GETTER(GetResourceDescription, state->ReturnString(resource->GetDescription().c_str()))
RESOURCE_GETTER(GetResourceIsStarted, state->ReturnBoolean(resource->IsStarted()))
RESOURCE_GETTER(GetResourceIsStarting, state->ReturnBoolean(resource->IsStarting()))
RESOURCE_GETTER(GetResourceExports, state->ReturnAndOwn(resource->GetExports().Clone()))
// Started from a script: no client notification (only console commands send one).
RESOURCE_GETTER(FunctionResourceStart, state->ReturnBoolean(resource->Start()))
RESOURCE_GETTER(FunctionResourceStop, state->ReturnBoolean(resource->Stop(false, false)))
RESOURCE_GETTER(FunctionResourceRestart, state->ReturnBoolean(resource->Restart()))

#undef RESOURCE_GETTER

bool FunctionResourceGetExport(CNativeState* state, int, void* privateData)
{
    CResource* resource = nullptr;
    const char* name = nullptr;
    if (!GetThisResourceObject(state, Manager(privateData), resource) || !state->CheckString(0, name))
        return false;
    if (const CArgument* value = resource->GetExport(name))
        state->Return(value);
    else
        state->ReturnUndefined();
    return true;
}

} // namespace

void CResourceMgr::RegisterFunctions(CScripting* scripting)
{
    ReflectedNamespace* global = scripting->GetGlobal();
    global->AddProperty(this, "platform", ARGUMENT_STRING, GetPlatform);
    global->AddProperty(this, "thisResource", ARGUMENT_OBJECT, GetThisResource);
    global->RegisterFunction("findResourceByName", "s", FunctionFindResourceByName, this);
    global->RegisterFunction("getResources", "", FunctionGetResources, this);
    global->RegisterFunction("exportFunction", "c", FunctionExportFunction, this);
    global->RegisterFunction("openFile", "s|b", FunctionOpenFile, this);
    global->RegisterFunction("createFile", "s", FunctionCreateFile, this);
    global->RegisterFunction("fileExists", "s|bb", FunctionFileExists, this);
    global->RegisterFunction("loadTextFile", "s", FunctionLoadTextFile, this);
    global->RegisterFunction("saveTextFile", "ss", FunctionSaveTextFile, this);

    m_pResourceClass = global->NewClass("Resource");
    m_pResourceClass->AddProperty(this, "name", ARGUMENT_STRING, GetResourceName);
    m_pResourceClass->AddProperty(this, "version", ARGUMENT_STRING, GetResourceVersion);
    m_pResourceClass->AddProperty(this, "author", ARGUMENT_STRING, GetResourceAuthor);
    m_pResourceClass->AddProperty(this, "description", ARGUMENT_STRING, GetResourceDescription);
    m_pResourceClass->AddProperty(this, "isStarted", ARGUMENT_BOOLEAN, GetResourceIsStarted);
    m_pResourceClass->AddProperty(this, "isStarting", ARGUMENT_BOOLEAN, GetResourceIsStarting);
    m_pResourceClass->AddProperty(this, "exports", ARGUMENT_MAP, GetResourceExports);
    m_pResourceClass->RegisterFunction("start", "t", FunctionResourceStart, this);
    m_pResourceClass->RegisterFunction("stop", "t", FunctionResourceStop, this);
    m_pResourceClass->RegisterFunction("restart", "t", FunctionResourceRestart, this);
    m_pResourceClass->RegisterFunction("getExport", "ts", FunctionResourceGetExport, this);

    // Resources made before the class existed get it now.
    for (CResource* resource : m_LiveResources)
        resource->SetReflectedClass(m_pResourceClass);
}

} // namespace Corvane3D
