#include "Engine/Assert.h"

#include "Engine/Context.h"

#include <atomic>

namespace Corvane3D {

namespace {
std::atomic<bool> g_assertionsEnabled{true};
}

void SetAssertionsEnabled(bool enabled)
{
    g_assertionsEnabled.store(enabled);
}

bool AreAssertionsEnabled()
{
    return g_assertionsEnabled.load();
}

void ReportAssertion(const char* file, const char* function, int line, const char* expression)
{
    if (!AreAssertionsEnabled())
        return;
    if (Context* context = GetContext())
        context->LogError("Assertion failed!\n\nFile: %s\nFunction: %s\nLine: %d\n\nExpression: %s", file, function,
                          line, expression);
}

} // namespace Corvane3D
