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
    // Whether a failed call must fail the native call that made it, with the text the function
    // left in g_szError. Engines report their own script errors, so by default it does not.
    virtual bool RaisesFailure() const { return false; }
};

} // namespace Corvane3D
