#pragma once
// Generic operations on reflected objects: construction through a class's constructor, the
// value a native object stands for, and the clone, move and to-string hooks.

#include "Engine/CorvaneNative.h"
#include "Engine/ReflectedNamespace.h"

#include <string>

namespace Corvane3D {

class CScripting;

namespace Reflection {

// Runs the class's constructor without arguments. Gives the object with one reference for the
// caller, or null with the error text set.
Strong<CBaseObject> Construct(CScripting* scripting, ReflectedClass* cls);

// The value a native object stands for: Matrix4x4, Vector3D and Vector2D values for objects of
// the root namespace's well-known classes (or classes derived from them), otherwise the object's
// own value.
Strong<CArgument> ToArgument(CBaseObject* object, CScripting* scripting);

// Run the hook of the object's own class (parents are not searched).
Strong<CBaseObject> Clone(CBaseObject* object);
bool Move(CBaseObject* destination, CBaseObject* source);
bool ToString(CBaseObject* object, std::string& out);

// The native behind functions handed to scripts: its private pointer is a CFunction, called with
// clones of all arguments; a clone of its first result is returned. It succeeds unless the
// function failed and raises its failures (CFunction::RaisesFailure).
bool FunctionTrampoline(CNativeState* state, int argumentCount, void* privateData);

} // namespace Reflection
} // namespace Corvane3D
