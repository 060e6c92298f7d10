#pragma once
// Shared by the scripting tests: a scripting core with the natives reachable by name, stand-ins
// for resources and clients, and a logger that keeps what it is told.

#include "Engine/ArgumentTestSupport.h"
#include "Engine/NativeTestSupport.h"

#include "Engine/Context.h"
#include "Engine/NativeCallHelper.h"
#include "Engine/Scripting.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Corvane3D {
class CNetMachine;
}

namespace ScriptingTest {

using namespace Corvane3D;
using namespace NativeTest;

// Resources and clients are only ever compared by address here; distinct addresses stand in
// for distinct objects.
inline CResource* Resource(int index)
{
    static char tokens[8];
    return reinterpret_cast<CResource*>(&tokens[index]);
}

inline CNetMachine* Client(int index)
{
    static char tokens[8];
    return reinterpret_cast<CNetMachine*>(&tokens[index]);
}

struct RecordingLogger : Logger {
    void Log(int level, const char* text) override { lines.push_back({level, text}); }

    struct Line {
        int level;
        std::string text;
    };
    std::vector<Line> lines;
};

struct ScriptingFixture : ::testing::Test {
    ArgumentTest::LogCapture log;
    CScripting scripting;

    // Calls the root namespace's native `name` as code of `resource` would.
    tNativeCallResult Call(const char* name, const Strong<CArgumentArray>& arguments, CResource* resource = nullptr)
    {
        ReflectedFunction* function = scripting.GetGlobal()->GetFunction(name);
        EXPECT_NE(function, nullptr) << name;
        if (!function)
            return {};
        tNativeCallResult result = CNativeCallHelper(&scripting, resource).Call(function, *arguments);
        EXPECT_TRUE(result.KeptContract()) << name;
        return result;
    }

    // The boolean a native returned; false for anything else.
    static bool Boolean(const tNativeCallResult& result)
    {
        return result.m_bResult && result.m_value && result.m_value->IsBoolean() && result.m_value->ToBoolean();
    }
};

} // namespace ScriptingTest
