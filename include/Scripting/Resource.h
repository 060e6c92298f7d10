#pragma once
// A resource: a folder or TAR archive under /resources holding a meta file, server and client
// scripts, maps and client files. While started it runs its server scripts in one environment per
// script language; everything it registered goes when it stops.

#include "Engine/CorvaneArguments.h"
#include "Engine/CorvaneReference.h"
#include "Engine/Stream.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Corvane3D {

class CElementChunk;
class CFileSystem;
class CMountedPath;
class CResource;
class CResourceMgr;
class CScriptEnvironment;
class CTARArchive;

enum eScriptType : uint32_t {
    SCRIPT_TYPE_OTHER = 0,
    SCRIPT_TYPE_LUA = 1,
    SCRIPT_TYPE_SQUIRREL = 2,
    SCRIPT_TYPE_JAVASCRIPT = 3,
    SCRIPT_TYPE_MAP = 4,
};

// One script or map of a resource with its whole contents.
struct CScript {
    uint32_t m_type = SCRIPT_TYPE_OTHER;
    // The resource's folder, '/', and the src attribute; for an archive resource the src alone.
    std::string m_name;
    std::vector<uint8_t> m_contents;
};

// One file that clients download.
struct CClientsideFile {
    static constexpr size_t MaxPathLength = 255;

    // The src attribute, cut to MaxPathLength bytes.
    std::string m_path;
    // SHA-256 of the lower-cased path as 64 upper-case hexadecimal digits.
    std::string m_hashName;
    uint32_t m_size = 0;
    uint32_t m_checksum = 0;
    bool m_bDownload = true;

    void HashIt();
};

// A function a resource published with exportFunction. Callers in other resources hold this
// wrapper, never the engine's function itself: when the exporting resource stops, the wrapper lets
// go of the function and later calls fail with a script error instead of reaching an environment
// that no longer exists.
class CExportedFunction : public CFunction {
public:
    CExportedFunction(CResource* resource, const char* name, CFunction* function);

    bool Call(const CArgumentArray& arguments, CReturnValue* results) override;
    bool RaisesFailure() const override { return m_bRefused; }

    // Drops the function; every later call is refused.
    void Revoke() { m_pFunction = nullptr; }
    bool IsRevoked() const { return !m_pFunction; }
    const std::string& GetName() const { return m_name; }

private:
    Weak<CResource> m_pResource;
    std::string m_resourceName;
    std::string m_name;
    Strong<CFunction> m_pFunction;
    bool m_bRefused = false;
};

class CResource : public CBaseObject {
public:
    static constexpr const char* MetaFileName = "meta.xml";
    static constexpr const char* HtDocsFolder = "/htdocs/resources";
    static constexpr size_t CopyBlockSize = 1048576;
    // Scripts and maps are read whole into memory; bigger files are refused, not allocated.
    static constexpr uint64_t MaxScriptSize = uint64_t(256) << 20;
    // Environments by language: Lua, Squirrel, JavaScript (script type minus 1).
    static constexpr size_t LanguageCount = 3;

    CResource(CResourceMgr* manager, const char* name);

    // Reads meta.xml: dependencies, maps, scripts and client files. On the server side it also
    // measures the client files and publishes them under /htdocs/resources. A failure leaves what
    // was read before it.
    bool LoadMeta(bool serverSide);
    virtual bool Start();
    // While the resource's own code is running (or it is starting) the stop is recorded and done
    // once that code has returned; the answer is then true.
    bool Stop(bool restarting, bool force);
    // Stops and starts again; a resource that is not running is not started.
    bool Restart();
    void ClearScripts();

    // Whether the resource's files can be reached (opens the archive of an archive resource).
    bool LoadFileSystem();
    // Paths starting with '/' are read-only paths of the server's virtual file system; other paths
    // stay inside the resource. ".." is refused everywhere.
    Strong<Stream> OpenFile(const char* path, bool writable);
    // A new writable file inside a folder resource; archive resources are read-only.
    Strong<Stream> CreateFile(const char* path);
    bool FileExists(const char* path, bool file, bool directory);
    void UpdateHtDocs();
    // The record telling clients what to download and run.
    bool WriteClientInfo(Stream* stream) const;

    const std::string& GetName() const { return m_name; }
    const std::string& GetAuthor() const { return m_author; }
    const std::string& GetVersion() const { return m_version; }
    const std::string& GetDescription() const { return m_description; }
    int32_t GetDownloadPriorityGroup() const { return m_iDownloadPriorityGroup; }

    // Where the resource lives: a virtual folder path, or the virtual path of its archive.
    const std::string& GetDirectoryPath() const { return m_directoryPath; }
    const std::string& GetArchivePath() const { return m_archivePath; }
    bool IsArchive() const { return !m_archivePath.empty(); }
    // Replaces both paths and closes what was opened from the old ones.
    void SetPaths(const std::string& directoryPath, const std::string& archivePath);
    void CloseArchive();

    bool IsStarted() const { return m_bStarted; }
    bool IsStarting() const { return m_bStarting; }
    bool IsPrivileged() const { return m_bPrivileged; }
    void SetPrivileged(bool privileged) { m_bPrivileged = privileged; }
    bool GetReloadMeta() const { return m_bReloadMeta; }
    void SetReloadMeta(bool reload) { m_bReloadMeta = reload; }

    // The resources named by the meta file's dependency elements; null where one has been
    // destroyed since.
    std::vector<CResource*> GetDependencies() const;
    const std::vector<std::shared_ptr<CScript>>& GetServerScripts() const { return m_ServerScripts; }
    const std::vector<std::shared_ptr<CScript>>& GetClientScripts() const { return m_ClientScripts; }
    const std::vector<CClientsideFile>& GetClientFiles() const { return m_ClientFiles; }
    // The environment of a script type (1 to 3), or null.
    CScriptEnvironment* GetEnvironment(uint32_t scriptType) const;

    // Publishes a function under a name, replacing an earlier one.
    bool ExportFunction(const char* name, CFunction* function);
    // Borrowed; null when nothing was exported under that name.
    CArgument* GetExport(const char* name) const;
    const CArgumentMap& GetExports() const { return *m_pExports; }

    // Calls into the resource's code nest these; a stop asked for meanwhile waits for the
    // outermost one to end.
    void EnterCode() { ++m_iCodeDepth; }
    void LeaveCode();
    bool IsRunningCode() const { return m_iCodeDepth > 0; }
    // A stop or restart waits for the resource's code to return.
    bool HasPendingAction() const { return m_Pending.m_bPending; }
    // The console asked for the waiting action: tell the clients when it has been done.
    void NotifyWhenPendingDone() { m_Pending.m_bNotify = true; }

    CResourceMgr* GetResourceMgr() const { return m_pResourceMgr; }
    // The manager is going away; from now on the resource touches none of its tables.
    void DetachFromManager() { m_pResourceMgr = nullptr; }

protected:
    ~CResource() override;

private:
    struct tPendingAction {
        bool m_bPending = false;
        bool m_bRestart = false;
        bool m_bRestarting = false;
        bool m_bForce = false;
        bool m_bReloadMeta = false;
        bool m_bNotify = false;
    };

    bool LoadScriptElement(CElementChunk* element, bool map, bool serverSide);
    bool ReadWhole(Stream* stream, CScript& script);
    bool RunScript(CScript& script);
    // The stop itself, without the checks that defer it.
    bool DoStop(bool restarting, bool force);
    void RemoveEverythingRegistered();
    void DestroyEnvironments();
    void RevokeExports();
    void RunPendingAction();
    // A relative path joined to the resource's folder.
    std::string JoinPath(const char* path) const;
    CFileSystem* GetFileSystem() const;

    CResourceMgr* m_pResourceMgr;
    std::string m_name;
    std::string m_author;
    std::string m_version;
    std::string m_description;
    std::array<CScriptEnvironment*, LanguageCount> m_pEnvironments{};
    // Weak: two resources may depend on each other, and a refresh may remove either.
    std::vector<Weak<CResource>> m_Dependencies;
    // Shared: a start runs from a snapshot, since a script may reload the meta file meanwhile.
    std::vector<std::shared_ptr<CScript>> m_ServerScripts;
    std::vector<std::shared_ptr<CScript>> m_ClientScripts;
    std::vector<CClientsideFile> m_ClientFiles;
    bool m_bPrivileged = false;
    bool m_bStarting = false;
    bool m_bStarted = false;
    bool m_bStopping = false;
    bool m_bReloadMeta = false;
    std::string m_directoryPath;
    std::string m_archivePath;
    std::unique_ptr<CTARArchive> m_pArchive;
    // The resource's folder as its own mount, so nothing inside it can lead outside it.
    std::unique_ptr<CMountedPath> m_pFolder;
    Strong<CArgumentMap> m_pExports;
    // Every wrapper handed out since the start; revoked at the stop.
    std::vector<Strong<CExportedFunction>> m_IssuedExports;
    int32_t m_iDownloadPriorityGroup = 0;
    int m_iCodeDepth = 0;
    tPendingAction m_Pending;
};

} // namespace Corvane3D
