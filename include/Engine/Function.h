#pragma once
// A callable value held by native code; each script engine derives its own holder.

#include "Engine/BaseObject.h"

namespace Corvane3D {

class CFunction : public CBaseObject {
};

} // namespace Corvane3D
