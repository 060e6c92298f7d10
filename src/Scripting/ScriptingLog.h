#pragma once
// Log lines of the resource code, which also runs where no process context exists (tests).

#include "Engine/Context.h"

namespace Corvane3D {

// Logs through the process context when there is one.
void Say(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

} // namespace Corvane3D
