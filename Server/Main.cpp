// Entry point: builds the process context and the server, reads server.xml, opens the ports,
// runs the frame loop and tears everything down again in reverse.

#include "BuiltinArchive.h"
#include "CommandLine.h"
#include "ProcessControl.h"
#include "RovaServer.h"
#include "ServerStartup.h"

#include "Engine/Assert.h"
#include "Engine/Context.h"
#include "Engine/FileSystem.h"
#include "Engine/OS.h"
#include "Engine/TARArchive.h"
#include "JSScripting/JSScripting.h"

#include <curl/curl.h>
#include <enet/enet.h>
#include <openssl/crypto.h>
#include <sys/utsname.h>

#include <cstdlib>
#include <ctime>
#include <exception>
#include <memory>
#include <typeinfo>

using namespace Corvane3D;

namespace {

void BuildUserAgent(Context& context)
{
    char text[256];
    std::snprintf(text, sizeof text, "Corvane3D/%d.%d.%d", 1, 2, 0);
    context.AddUserAgent(text);
    utsname name{};
    if (uname(&name) == 0)
        std::snprintf(text, sizeof text, " (%s %s)", name.sysname, name.machine);
    else
        std::snprintf(text, sizeof text, " (%s %s)", "Linux", "unknown");
    context.AddUserAgent(text);
    context.AddUserAgent("HaldenServer/1.7.3");
}

void MountFileSystem(Context& context)
{
    auto fileSystem = std::make_unique<CFileSystem>();
    const std::string executableDirectory = CFileSystem::GetExecutableDirectory();
    if (!executableDirectory.empty())
        fileSystem->Mount(std::make_unique<CMountedPath>(executableDirectory));
    context.SetFileSystem(std::move(fileSystem));
}

void MountBuiltinArchive(Context& context)
{
    const auto image = GetBuiltinArchive();
    auto archive = std::make_unique<CTARArchive>();
    if (archive->ReadImage(image.data(), image.size()))
        context.GetFileSystem()->Mount(std::move(archive));
}

int Run(int argc, char** argv)
{
    SetAssertionsEnabled(false);
    curl_global_init(CURL_GLOBAL_ALL);
    std::atexit(curl_global_cleanup);
    std::atexit(enet_deinitialize);
    std::atexit(OPENSSL_cleanup);

    auto context = std::make_unique<Context>();
    OS::Initialise();
    GGlobal.m_pContext = context.get();
    std::srand(unsigned(std::time(nullptr)));

    MountFileSystem(*context);
    BuildUserAgent(*context);
    MountBuiltinArchive(*context);

    // The JavaScript engine lives for the whole process and outlasts the server object.
    CJSEngineLifetime javascript;
    if (!javascript.IsInitialised())
        context->LogError("The JavaScript engine could not be started; JavaScript resources will not run");

    int status = 1;
    try {
        auto server = std::make_unique<CRovaServer>();
        const CCommandLine commandLine = CCommandLine::Parse(argc, argv);
        InstallInterruptHandler(&server->GetStopFlag());
        if (StartServer(*server, commandLine)) {
            server->MainLoop();
            StopServer(*server);
            status = 0;
        } else {
            WaitForKeyPress();
        }
        RemoveInterruptHandler();
        server.reset();
    } catch (const std::exception& error) {
        // A failure must never end as success: report it while the log still exists.
        RemoveInterruptHandler();
        context->LogCritical("Unhandled exception %s: %s", typeid(error).name(), error.what());
        status = 1;
    } catch (...) {
        RemoveInterruptHandler();
        context->LogCritical("Unhandled exception of unknown type");
        status = 1;
    }
    GGlobal.m_pContext = nullptr;
    context.reset();
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "Unhandled exception %s: %s\n", typeid(error).name(), error.what());
    } catch (...) {
        std::fprintf(stderr, "Unhandled exception of unknown type\n");
    }
    return 1;
}
