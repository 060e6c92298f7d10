#include "JSInternal.h"

namespace Corvane3D {

namespace {

// The engine can be started once per process and must be shut down before exit when it was;
// shutting it down without a start crashes, so both are tracked here.
int g_iLifetimeHolders = 0;
bool g_bEngineShutDown = false;

} // namespace

CJSEngineLifetime::CJSEngineLifetime()
{
    if (g_iLifetimeHolders > 0) {
        ++g_iLifetimeHolders;
        m_bHeld = true;
        return;
    }
    if (g_bEngineShutDown) {
        if (Context* context = GetContext())
            context->LogError("The JavaScript engine cannot be started again after it was shut down");
        return;
    }
    if (const char* failure = JS_InitWithFailureDiagnostic()) {
        if (Context* context = GetContext())
            context->LogError("%s", failure);
        return;
    }
    g_iLifetimeHolders = 1;
    m_bHeld = true;
}

CJSEngineLifetime::~CJSEngineLifetime()
{
    if (!m_bHeld)
        return;
    if (--g_iLifetimeHolders == 0) {
        JS_ShutDown();
        g_bEngineShutDown = true;
    }
}

bool CJSEngineLifetime::IsActive()
{
    return g_iLifetimeHolders > 0;
}

} // namespace Corvane3D
