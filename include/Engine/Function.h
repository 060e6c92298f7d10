#pragma once
// A callable value held by native code; each script engine derives its own holder.

#include "Engine/BaseObject.h"

namespace Corvane3D {

class CArgumentArray;
class CReturnValue;

class CFunction : public CBaseObject {
public:
    // Runs the function with `arguments`; its results are appended to `results` when given.
    // False when the call failed (a script error, or nothing to call).
    virtual bool Call(const CArgumentArray& arguments, CReturnValue* results);
};

} // namespace Corvane3D
