#include "Scripting/Resource.h"

#include "Engine/CRC32Hash.h"
#include "Engine/Context.h"
#include "Engine/CorvaneHBF.h"
#include "Engine/CorvaneStream.h"
#include "Engine/FileSystem.h"
#include "Engine/SHA256.h"
#include "Engine/ScriptingVM.h"
#include "Engine/TARArchive.h"
#include "Scripting/ResourceMgr.h"
#include "ScriptingLog.h"

#include <strings.h>

#include <cctype>
#include <cstring>

namespace Corvane3D {

namespace {

// Engine names by script type 1 to 3; engines are registered under the CRC-32 of these.
constexpr const char* g_EngineNames[CResource::LanguageCount] = {"Lua", "Squirrel", "SpiderMonkey"};
constexpr const char* g_LanguageNames[CResource::LanguageCount] = {"lua", "squirrel", "javascript"};

bool HasParentReference(const char* path)
{
    return std::strstr(path, "..") != nullptr;
}

// "true"/"1" and "false"/"0" in any letter case; anything else keeps the default.
bool ParseBoolean(const char* text, bool fallback)
{
    if (!text)
        return fallback;
    if (strcasecmp(text, "true") == 0 || std::strcmp(text, "1") == 0)
        return true;
    if (strcasecmp(text, "false") == 0 || std::strcmp(text, "0") == 0)
        return false;
    return fallback;
}

std::string JoinFolder(const std::string& folder, const char* path)
{
    if (folder.empty())
        return path;
    std::string joined = folder;
    if (joined.back() != '/' && joined.back() != '\\')
        joined += '/';
    joined += path;
    return joined;
}

} // namespace

void CClientsideFile::HashIt()
{
    std::string lower = m_path;
    for (char& c : lower)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    m_hashName = CSHA256::ToHex(CSHA256::Compute(lower.data(), lower.size()), true);
}

CExportedFunction::CExportedFunction(CResource* resource, const char* name, CFunction* function)
    : m_pResource(resource),
      m_resourceName(resource ? resource->GetName() : ""),
      m_name(name ? name : ""),
      m_pFunction(function)
{
    if (resource && resource->GetResourceMgr())
        SetReflectedClass(resource->GetResourceMgr()->GetScripting()->GetFunctionClass());
}

bool CExportedFunction::Call(const CArgumentArray& arguments, CReturnValue* results)
{
    CResource* resource = m_pResource.Get();
    m_bRefused = !m_pFunction || !resource || !resource->IsStarted();
    if (m_bRefused)
        return SetError("Export %s of resource %s cannot be called: the resource is not running", m_name.c_str(),
                        m_resourceName.c_str());
    // Held for the call: the exporting resource may stop (deferred) and release both meanwhile.
    Strong<CResource> holdResource(resource);
    Strong<CFunction> function = m_pFunction;
    CResourceCallScope scope(resource->GetResourceMgr(), resource);
    return function->Call(arguments, results);
}

CResource::CResource(CResourceMgr* manager, const char* name)
    : m_pResourceMgr(manager), m_name(name ? name : ""), m_pExports(MakeStrong<CArgumentMap>())
{
    if (manager) {
        manager->m_LiveResources.insert(this);
        SetReflectedClass(manager->GetResourceClass());
    }
}

CResource::~CResource()
{
    ClearScripts();
    if (!m_pResourceMgr || m_pResourceMgr->GetScripting()->IsShuttingDown()) {
        Say(LOG_CRITICAL, "Resource %s deleted while scripting is dying!", m_name.c_str());
    }
    if (m_pResourceMgr) {
        m_pResourceMgr->GetEventHandlers()->RemoveHandlersWithSource(this, nullptr);
        RemoveEverythingRegistered();
        m_pResourceMgr->m_LiveResources.erase(this);
    }
    RevokeExports();
    DestroyEnvironments();
    CloseArchive();
}

CFileSystem* CResource::GetFileSystem() const
{
    return m_pResourceMgr ? m_pResourceMgr->GetFileSystem() : nullptr;
}

std::vector<CResource*> CResource::GetDependencies() const
{
    std::vector<CResource*> dependencies;
    for (const Weak<CResource>& dependency : m_Dependencies)
        dependencies.push_back(dependency.Get());
    return dependencies;
}

CScriptEnvironment* CResource::GetEnvironment(uint32_t scriptType) const
{
    if (scriptType < SCRIPT_TYPE_LUA || scriptType > SCRIPT_TYPE_JAVASCRIPT)
        return nullptr;
    return m_pEnvironments[scriptType - 1];
}

void CResource::SetPaths(const std::string& directoryPath, const std::string& archivePath)
{
    if (directoryPath != m_directoryPath)
        m_pFolder.reset();
    m_directoryPath = directoryPath;
    m_archivePath = archivePath;
    CloseArchive();
}

void CResource::CloseArchive()
{
    m_pArchive.reset();
}

bool CResource::LoadFileSystem()
{
    if (m_pArchive)
        return true;
    if (!m_directoryPath.empty()) {
        if (!m_pFolder) {
            // The folder becomes its own mount so that links inside it cannot lead out of it.
            std::string realPath;
            CFileSystem* fileSystem = GetFileSystem();
            if (fileSystem && fileSystem->ResolvePath(m_directoryPath.c_str(), realPath) &&
                CFileMgr::Exists(realPath.c_str(), false, true))
                m_pFolder = std::make_unique<CMountedPath>(realPath);
        }
        return true;
    }
    if (m_archivePath.empty())
        return false;
    CFileSystem* fileSystem = GetFileSystem();
    Strong<Stream> stream = fileSystem ? fileSystem->Open(m_archivePath.c_str(), false) : nullptr;
    if (!stream)
        return false;
    auto archive = std::make_unique<CTARArchive>();
    if (!archive->Read(stream))
        return false;
    m_pArchive = std::move(archive);
    return true;
}

std::string CResource::JoinPath(const char* path) const
{
    return JoinFolder(m_directoryPath, path);
}

Strong<Stream> CResource::OpenFile(const char* path, bool writable)
{
    if (!path || !LoadFileSystem())
        return nullptr;
    CFileSystem* fileSystem = GetFileSystem();
    if (path[0] == '/') {
        if (writable || HasParentReference(path) || !fileSystem)
            return nullptr;
        return fileSystem->Open(path, false);
    }
    if (HasParentReference(path))
        return nullptr;
    if (!writable && m_pArchive) {
        if (Strong<Stream> stream = m_pArchive->Open(path, false))
            return stream;
    }
    if (IsArchive()) {
        // An archive is read-only, and it has no folder of its own to write into: a writable open
        // must not fall through to the server's folder (server.xml lives there).
        if (writable || !fileSystem)
            return nullptr;
        return fileSystem->Open(path, false);
    }
    if (m_pFolder)
        return m_pFolder->Open(path, writable);
    return fileSystem ? fileSystem->Open(JoinPath(path).c_str(), writable) : nullptr;
}

Strong<Stream> CResource::CreateFile(const char* path)
{
    // Refused for every archive resource, opened or not: with no folder of its own the path
    // would land in the server's folder.
    if (!path || IsArchive() || m_pArchive || path[0] == '/' || HasParentReference(path))
        return nullptr;
    if (!LoadFileSystem())
        return nullptr;
    if (m_pFolder)
        return m_pFolder->Create(path);
    CFileSystem* fileSystem = GetFileSystem();
    return fileSystem ? fileSystem->Create(JoinPath(path).c_str()) : nullptr;
}

bool CResource::FileExists(const char* path, bool file, bool directory)
{
    if (!path || !LoadFileSystem() || HasParentReference(path))
        return false;
    CFileSystem* fileSystem = GetFileSystem();
    if (path[0] == '/')
        return fileSystem && fileSystem->Exists(path, file, directory);
    if (m_pArchive && m_pArchive->Exists(path, file, directory))
        return true;
    if (m_pFolder)
        return m_pFolder->Exists(path, file, directory);
    return fileSystem && fileSystem->Exists(JoinPath(path).c_str(), file, directory);
}

bool CResource::ReadWhole(Stream* stream, CScript& script)
{
    const uint64_t length = stream->GetLength();
    if (length > MaxScriptSize)
        return false;
    script.m_contents.resize(size_t(length));
    size_t done = 0;
    while (done < script.m_contents.size()) {
        const size_t got = stream->Read(script.m_contents.data() + done, script.m_contents.size() - done);
        if (got == 0)
            return false;
        done += got;
    }
    return true;
}

bool CResource::LoadScriptElement(CElementChunk* element, bool map, bool serverSide)
{
    (void)serverSide;
    const char* kind = map ? "map" : "script";
    const char* source = element->Attribute("src");
    if (!source) {
        Say(LOG_ERROR, "src attribute missing on %s element in resource %s!", kind, m_name.c_str());
        return false;
    }
    const char* type = element->Attribute("type");
    if (!type) {
        Say(LOG_ERROR, "type attribute missing on %s element in resource %s!", kind, m_name.c_str());
        return false;
    }
    uint32_t scriptType = SCRIPT_TYPE_MAP;
    if (!map) {
        const char* language = element->Attribute("language");
        if (!language) {
            Say(LOG_ERROR, "language attribute missing on script element in resource %s!", m_name.c_str());
            return false;
        }
        scriptType = SCRIPT_TYPE_OTHER;
        for (size_t i = 0; i < LanguageCount; ++i)
            if (strcasecmp(language, g_LanguageNames[i]) == 0)
                scriptType = uint32_t(i + 1);
    }
    std::vector<std::shared_ptr<CScript>>* list = nullptr;
    if (strcasecmp(type, "server") == 0)
        list = &m_ServerScripts;
    else if (strcasecmp(type, "client") == 0)
        list = &m_ClientScripts;
    else {
        Say(LOG_ERROR, "invalid type in resource %s!", m_name.c_str());
        return false;
    }
    Strong<Stream> stream = OpenFile(source, false);
    if (!stream) {
        Say(LOG_ERROR, "unable to load %s %s in resource %s!", kind, source, m_name.c_str());
        return false;
    }
    auto script = std::make_shared<CScript>();
    script->m_type = scriptType;
    script->m_name = IsArchive() ? std::string(source) : JoinPath(source);
    if (!ReadWhole(stream, *script)) {
        Say(LOG_ERROR, "unable to read script %s in resource %s!", source, m_name.c_str());
        return false;
    }
    list->push_back(std::move(script));
    return true;
}

bool CResource::LoadMeta(bool serverSide)
{
    Strong<Stream> metaFile = OpenFile(MetaFileName, false);
    if (!metaFile) {
        Say(LOG_ERROR, "unable to load meta.xml in resource %s!", m_name.c_str());
        return false;
    }
    std::unique_ptr<CElementChunk> root = CElementChunk::Load(metaFile);
    metaFile = nullptr;
    if (!root)
        return false;

    m_Dependencies.clear();
    m_iDownloadPriorityGroup = 0;
    if (CElementChunk* group = root->FindElement("download_priority_group")) {
        const char* text = group->GetText();
        if (text && *text)
            m_iDownloadPriorityGroup = int32_t(std::strtol(text, nullptr, 10));
    }
    const char* version = root->Attribute("version");
    const char* author = root->Attribute("author");
    const char* description = root->Attribute("description");
    m_version = version ? version : "";
    m_author = author ? author : "";
    m_description = description ? description : "";

    for (CElementChunk* dependency : root->FindElements("dependency")) {
        const char* source = dependency->Attribute("src");
        CResource* found = source && m_pResourceMgr ? m_pResourceMgr->FindResourceByName(source) : nullptr;
        if (!found) {
            Say(LOG_WARN, "Unable to find dependency %s for resource %s!", source ? source : "", m_name.c_str());
            return false;
        }
        m_Dependencies.emplace_back(found);
    }

    ClearScripts();
    m_ClientFiles.clear();
    for (CElementChunk* map : root->FindElements("map"))
        if (!LoadScriptElement(map, true, serverSide))
            return false;
    for (CElementChunk* script : root->FindElements("script"))
        if (!LoadScriptElement(script, false, serverSide))
            return false;

    for (CElementChunk* element : root->FindElements("file")) {
        const char* source = element->Attribute("src");
        const char* type = element->Attribute("type");
        const bool download = ParseBoolean(element->Attribute("download"), true);
        if (!source || !type) {
            Say(LOG_ERROR, "src or type attribute missing on file element in resource %s!", m_name.c_str());
            return false;
        }
        Strong<Stream> stream = OpenFile(source, false);
        if (!stream) {
            Say(LOG_ERROR, "unable to load file %s in resource %s!", source, m_name.c_str());
            return false;
        }
        if (strcasecmp(type, "client") != 0) {
            Say(LOG_ERROR, "invalid type in resource %s!", m_name.c_str());
            return false;
        }
        CClientsideFile file;
        file.m_path.assign(source, strnlen(source, CClientsideFile::MaxPathLength));
        file.HashIt();
        if (serverSide) {
            file.m_size = uint32_t(stream->GetLength());
            stream->Rewind();
            file.m_checksum = CRC32Hash::GetHash(stream);
        }
        file.m_bDownload = download;
        m_ClientFiles.push_back(std::move(file));
    }
    if (serverSide)
        UpdateHtDocs();
    return true;
}

void CResource::UpdateHtDocs()
{
    CFileSystem* fileSystem = GetFileSystem();
    if (!fileSystem)
        return;
    std::vector<uint8_t> block;
    for (const CClientsideFile& file : m_ClientFiles) {
        const std::string target = std::string(HtDocsFolder) + '/' + m_name + '/' + file.m_hashName;
        Strong<Stream> copy = fileSystem->Create(target.c_str());
        if (!copy)
            continue;
        Strong<Stream> source = OpenFile(file.m_path.c_str(), false);
        if (!source)
            continue;
        block.resize(CopyBlockSize);
        for (;;) {
            const size_t got = source->Read(block.data(), block.size());
            if (got == 0 || copy->Write(block.data(), got) != got)
                break;
        }
        copy->Flush();
    }
}

bool CResource::WriteClientInfo(Stream* stream) const
{
    CBinaryWriter writer(stream);
    bool ok = writer.WriteString(m_name) && writer.WriteUInt32(uint32_t(m_ClientScripts.size()));
    for (const auto& script : m_ClientScripts) {
        ok = ok && writer.WriteUInt8(uint8_t(script->m_type)) && writer.WriteString(script->m_name) &&
             writer.WriteUInt32(uint32_t(script->m_contents.size())) &&
             writer.Write(script->m_contents.data(), script->m_contents.size());
    }
    ok = ok && writer.WriteUInt32(uint32_t(m_ClientFiles.size()));
    for (const CClientsideFile& file : m_ClientFiles) {
        ok = ok && writer.WriteString(file.m_path) && writer.WriteString(file.m_hashName) &&
             writer.WriteUInt32(file.m_size) && writer.WriteUInt32(file.m_checksum);
    }
    return ok;
}

void CResource::ClearScripts()
{
    m_ServerScripts.clear();
    m_ClientScripts.clear();
    m_pExports->Clear();
}

bool CResource::ExportFunction(const char* name, CFunction* function)
{
    if (!name || !function)
        return false;
    auto exported = MakeStrong<CExportedFunction>(this, name, function);
    m_IssuedExports.push_back(exported);
    m_pExports->Set(name, MakeStrong<CArgumentFunction>(exported.Get()));
    return true;
}

CArgument* CResource::GetExport(const char* name) const
{
    return name ? m_pExports->Get(name) : nullptr;
}

void CResource::RevokeExports()
{
    for (const Strong<CExportedFunction>& exported : m_IssuedExports)
        exported->Revoke();
    m_IssuedExports.clear();
    m_pExports->Clear();
}

void CResource::DestroyEnvironments()
{
    for (CScriptEnvironment*& environment : m_pEnvironments) {
        if (CScriptEnvironment* doomed = std::exchange(environment, nullptr))
            doomed->Destroy();
    }
}

bool CResource::RunScript(CScript& script)
{
    if (script.m_type == SCRIPT_TYPE_MAP) {
        CMemoryStream stream(script.m_contents.data(), script.m_contents.size());
        std::string reason;
        std::unique_ptr<CElementChunk> map = CElementChunk::Load(&stream, reason);
        if (!map) {
            Say(LOG_ERROR, "START: Map %s in resource %s cannot be read: %s", script.m_name.c_str(), m_name.c_str(),
                              reason.c_str());
            return false;
        }
        return !m_pResourceMgr || m_pResourceMgr->LoadMap(map.get(), this);
    }
    if (script.m_type < SCRIPT_TYPE_LUA || script.m_type > SCRIPT_TYPE_JAVASCRIPT) {
        Say(LOG_ERROR, "START: Script %s in resource %s has a language no engine runs!", script.m_name.c_str(),
                          m_name.c_str());
        return false;
    }
    const size_t language = script.m_type - 1;
    CScriptEnvironment*& environment = m_pEnvironments[language];
    if (!environment) {
        CScriptingVM* engine = m_pResourceMgr ? m_pResourceMgr->GetScripting()->GetVM(g_EngineNames[language]) : nullptr;
        if (!engine) {
            Say(LOG_ERROR, "START: No %s engine is registered to run %s in resource %s!", g_LanguageNames[language],
                              script.m_name.c_str(), m_name.c_str());
            return false;
        }
        environment = engine->CreateEnvironment(m_name.c_str());
        if (!environment) {
            Say(LOG_ERROR, "START: The %s engine could not make an environment for resource %s!",
                              g_LanguageNames[language], m_name.c_str());
            return false;
        }
        environment->m_pResource = this;
    }
    CMemoryStream stream(script.m_contents.data(), script.m_contents.size());
    // The environment is held by the resource until the stop; the stop waits for this call.
    CScriptEnvironment* running = environment;
    EnterCode();
    const bool ran = running->DoFile(&stream, script.m_name.c_str());
    LeaveCode();
    return ran;
}

bool CResource::Start()
{
    Say(LOG_INFO, "START: Starting resource %s...", m_name.c_str());
    if (m_bStarting) {
        Say(LOG_WARN, "START: Resource %s already starting!", m_name.c_str());
        return false;
    }
    if (m_bStarted) {
        Say(LOG_WARN, "START: Resource %s already running!", m_name.c_str());
        return false;
    }
    if (m_bReloadMeta && !LoadMeta(m_pResourceMgr && m_pResourceMgr->IsServerSide())) {
        Say(LOG_WARN, "START: Failed to load resource %s!", m_name.c_str());
        return false;
    }
    // Held: scripts run below may drop every other reference (a refresh, say).
    Strong<CResource> self(this);
    m_bStarting = true;
    for (const Weak<CResource>& weak : m_Dependencies) {
        CResource* dependency = weak.Get();
        // A dependency that is starting counts as satisfied: that ends dependency cycles.
        if (dependency && (dependency->IsStarting() || dependency->IsStarted()))
            continue;
        if (!dependency || !dependency->Start()) {
            Say(LOG_ERROR, "START: Failed to start dependant resources for %s!", m_name.c_str());
            m_bStarting = false;
            return false;
        }
    }

    m_bStarted = true;
    bool loaded = LoadFileSystem();
    const bool serverSide = !m_pResourceMgr || m_pResourceMgr->IsServerSide();
    if (loaded) {
        // A script may reload the meta file (a refresh) and so replace the lists: run a snapshot.
        const std::vector<std::shared_ptr<CScript>> scripts = serverSide ? m_ServerScripts : m_ClientScripts;
        for (const std::shared_ptr<CScript>& script : scripts) {
            if (!m_bStarted || !RunScript(*script)) {
                loaded = false;
                break;
            }
        }
    }
    if (loaded && m_bStarted) {
        bool prevented = false;
        if (m_pResourceMgr && m_pResourceMgr->GetResourceStartEvent()) {
            CArgumentArray arguments(1);
            arguments.AddObject(this);
            m_pResourceMgr->GetResourceStartEvent()->Trigger(arguments, prevented);
        }
        if (!prevented && m_bStarted) {
            Say(LOG_INFO, "START: Resource %s started.", m_name.c_str());
            m_bStarting = false;
            if (m_Pending.m_bPending && !IsRunningCode())
                RunPendingAction();
            return true;
        }
    }
    Say(LOG_ERROR, "START: Resource %s failed to load!", m_name.c_str());
    // Forced: a script must not keep a half-started resource alive by vetoing its clean-up.
    if (m_bStarted)
        DoStop(false, true);
    m_bStarting = false;
    m_Pending = {};
    return false;
}

bool CResource::Stop(bool restarting, bool force)
{
    if (!m_bStarted) {
        Say(LOG_INFO, "STOP: Stopping resource %s...", m_name.c_str());
        Say(LOG_WARN, "STOP: Resource %s already stopped!", m_name.c_str());
        return false;
    }
    if (m_bStopping)
        return true;
    if (IsRunningCode() || m_bStarting) {
        // Never tear down an environment whose code is on the stack: done when it returns.
        const bool notify = m_Pending.m_bNotify;
        m_Pending = {};
        m_Pending.m_bPending = true;
        m_Pending.m_bRestarting = restarting;
        m_Pending.m_bForce = force;
        m_Pending.m_bNotify = notify;
        return true;
    }
    return DoStop(restarting, force);
}

bool CResource::DoStop(bool restarting, bool force)
{
    Say(LOG_INFO, "STOP: Stopping resource %s...", m_name.c_str());
    Strong<CResource> self(this);
    m_bStopping = true;
    bool prevented = false;
    if (m_pResourceMgr && m_pResourceMgr->GetResourceStopEvent()) {
        CArgumentArray arguments(2);
        arguments.AddObject(this);
        arguments.AddBoolean(restarting);
        m_pResourceMgr->GetResourceStopEvent()->Trigger(arguments, prevented);
    }
    if (prevented && !force) {
        m_bStopping = false;
        Say(LOG_ERROR, "STOP: Resource %s failed to stop!", m_name.c_str());
        return false;
    }
    RemoveEverythingRegistered();
    RevokeExports();
    DestroyEnvironments();
    m_bStarted = false;
    CloseArchive();
    m_bStopping = false;
    // Whatever was waiting for the resource's code is moot now.
    m_Pending = {};
    Say(LOG_INFO, "STOP: Resource %s stopped.", m_name.c_str());
    return true;
}

void CResource::RemoveEverythingRegistered()
{
    if (!m_pResourceMgr)
        return;
    m_pResourceMgr->RemoveThingsAssociatedWithResource(this);
    m_pResourceMgr->GetEventHandlers()->RemoveHandlers(this);
    m_pResourceMgr->GetCommandHandlers()->RemoveHandlers(this);
    m_pResourceMgr->GetTimers()->RemoveTimers(this);
}

bool CResource::Restart()
{
    Say(LOG_INFO, "RESTART: Restarting resource %s...", m_name.c_str());
    if (!m_bStarted)
        return false;
    if (IsRunningCode() || m_bStarting || m_bStopping) {
        const bool notify = m_Pending.m_bNotify;
        m_Pending = {};
        m_Pending.m_bPending = true;
        m_Pending.m_bRestart = true;
        m_Pending.m_bReloadMeta = m_bReloadMeta;
        m_Pending.m_bNotify = notify;
        return true;
    }
    Strong<CResource> self(this);
    if (!Stop(true, false))
        return false;
    return Start();
}

void CResource::LeaveCode()
{
    if (--m_iCodeDepth == 0 && m_Pending.m_bPending && !m_bStarting && !m_bStopping)
        RunPendingAction();
}

void CResource::RunPendingAction()
{
    const tPendingAction action = std::exchange(m_Pending, tPendingAction{});
    Strong<CResource> self(this);
    if (action.m_bRestart) {
        const bool reload = std::exchange(m_bReloadMeta, action.m_bReloadMeta);
        Restart();
        m_bReloadMeta = reload;
    } else if (m_bStarted) {
        DoStop(action.m_bRestarting, action.m_bForce);
    }
    if (action.m_bNotify && m_pResourceMgr) {
        m_pResourceMgr->RefreshResourceState(this);
        m_pResourceMgr->CollectGarbage();
    }
}

} // namespace Corvane3D
