#pragma once
// A resource manager over a real folder, with the fake engine registered for JavaScript.

#include "Scripting/FakeScriptEngine.h"

#include "Engine/FileSystem.h"
#include "Engine/TestFiles.h"
#include "Scripting/ResourceMgr.h"

#include <cstdlib>
#include <map>
#include <string>

namespace ResourceTest {

using namespace Corvane3D;
using namespace FakeEngine;
using namespace NativeTest;

struct RecordingLogger : Logger {
    void Log(int level, const char* text) override { lines.push_back({level, text}); }
    bool Has(int level, const std::string& text) const
    {
        for (const auto& line : lines)
            if (line.level == level && line.text == text)
                return true;
        return false;
    }
    struct Line {
        int level;
        std::string text;
    };
    std::vector<Line> lines;
};

struct ResourceFixture : ::testing::Test {
    ResourceFixture()
    {
        auto fileSystem = std::make_unique<CFileSystem>();
        fileSystem->Mount(std::make_unique<CMountedPath>(root.Path()));
        log.context.SetFileSystem(std::move(fileSystem));
        manager = std::make_unique<CResourceMgr>(&log.context);
        manager->RegisterFunctions(manager->GetScripting());
        manager->GetEventHandlers()->CreateServerEventTypes();
        manager->CreateResourceEventTypes();
        manager->SetServerSide(true);
        auto fake = std::make_unique<CFakeEngine>(manager->GetScripting());
        engine = fake.get();
        manager->GetScripting()->AddVM(CScriptingVM::GetEngineId("SpiderMonkey"), std::move(fake));
    }
    ~ResourceFixture() override
    {
        // Test handlers capture the test's locals, which are gone by now; the manager's own
        // clean-up would raise OnResourceStop to them.
        manager->GetEventHandlers()->RemoveHandlers(nullptr);
        manager.reset();
    }

    // A folder resource with its meta file and other files (path relative to the folder).
    void WriteResource(const std::string& folder, const std::string& meta,
                       const std::map<std::string, std::string>& files = {})
    {
        TestFiles::WriteFile(root / ("resources/" + folder + "/meta.xml"), meta);
        for (const auto& [path, contents] : files)
            TestFiles::WriteFile(root / ("resources/" + folder + "/" + path), contents);
    }

    // Packs a resource folder made by WriteResource into resources/<name>.tar with the real tar
    // program, then removes the folder.
    void PackResource(const std::string& folder, const std::string& name)
    {
        const std::string command = "tar -C '" + (root / ("resources/" + folder)) + "' -cf '" +
                                    (root / ("resources/" + name + ".tar")) + "' . && rm -r '" +
                                    (root / ("resources/" + folder)) + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    // A meta file whose server scripts are JavaScript files of these names.
    static std::string ScriptsMeta(std::initializer_list<const char*> scripts, const std::string& extra = "")
    {
        std::string meta = "<meta>";
        for (const char* script : scripts)
            meta += std::string("<script src=\"") + script + "\" type=\"server\" language=\"javascript\"/>";
        return meta + extra + "</meta>";
    }

    CResource* Find(const char* name) { return manager->FindResourceByName(name); }

    // Runs a console command line as the console does.
    RecordingLogger Command(const char* line)
    {
        RecordingLogger answers;
        manager->GetCommandHandlers()->ConsoleCommandOnly(line, nullptr, true, &answers);
        return answers;
    }

    bool Logged(int level, const std::string& text) const
    {
        for (const auto& line : log.lines)
            if (line.level == level && line.text == text)
                return true;
        return false;
    }

    size_t LineIndex(const std::string& text) const
    {
        for (size_t i = 0; i < log.lines.size(); ++i)
            if (log.lines[i].text == text)
                return i;
        return size_t(-1);
    }

    TestFiles::TempFolder root;
    ArgumentTest::LogCapture log;
    std::unique_ptr<CResourceMgr> manager;
    CFakeEngine* engine = nullptr;
};

} // namespace ResourceTest
