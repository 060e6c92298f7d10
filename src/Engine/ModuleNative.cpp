#include "Engine/CorvaneNative.h"

namespace Corvane3D {

// Stands in until the module interface provides a module-facing state to call through: a module
// callback is then reported as not callable instead of being called with the wrong state.
bool CallModuleNative(ModuleNativeFunction, const char* name, CNativeState* state, int, void*)
{
    return state->Error("Cannot call %s", name ? name : "");
}

} // namespace Corvane3D
