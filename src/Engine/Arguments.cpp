#include "Engine/CorvaneArguments.h"

#include "Engine/Assert.h"
#include "Engine/CorvaneStream.h"
#include "Engine/ObjectValue.h"
#include "Engine/ReflectedClass.h"
#include "Engine/Stream.h"

#include <cmath>
#include <limits>
#include <type_traits>

namespace Corvane3D {

const char* const g_rgpszArgumentTypes[ARGUMENT_TYPE_COUNT] = {
    "ARGUMENT_NIL",       "ARGUMENT_BOOLEAN",   "ARGUMENT_STRING",      "ARGUMENT_TABLE",    "ARGUMENT_INTEGER",
    "ARGUMENT_FLOAT",     "ARGUMENT_NETOBJECT", "ARGUMENT_OBJECT",      "ARGUMENT_VECTOR2D", "ARGUMENT_VECTOR3D",
    "ARGUMENT_VECTOR4D",  "ARGUMENT_MATRIX4X4", "ARGUMENT_UNDEFINED",   "ARGUMENT_LUAREF",   "ARGUMENT_JSVALUE",
    "ARGUMENT_LONGINTEGER", "ARGUMENT_DOUBLE",  "ARGUMENT_ARRAY",       "ARGUMENT_MAP",      "ARGUMENT_FUNCTION",
    "ARGUMENT_SQREF",     "ARGUMENT_BYTES",
};

const char* const g_rgpszArgumentTypeNames[ARGUMENT_TYPE_COUNT] = {
    "null",      "boolean",   "string",  "table",   "integer", "number", "element", "instance",
    "Vector2D",  "Vector3D",  "Vector4D", "Matrix4x4", "undefined", "luaref", "jsvalue", "integer",
    "number",    "array",     "map",     "function", "sqref",  "bytes",
};

const char* GetArgumentTypeEnumName(uint8_t type)
{
    // Type bytes come from the wire; never index past the table.
    return type < ARGUMENT_TYPE_COUNT ? g_rgpszArgumentTypes[type] : "unknown";
}

const char* GetArgumentTypeDisplayName(uint8_t type)
{
    return type < ARGUMENT_TYPE_COUNT ? g_rgpszArgumentTypeNames[type] : "unknown";
}

CArgument* CBaseObject::CreateArgument()
{
    return MakeStrong<CArgumentObject>(this).Detach();
}

Strong<CArgument> CArgument::Create(CBaseObject* object)
{
    if (!object)
        return MakeStrong<CArgument>(ARGUMENT_NIL);
    return Strong<CArgument>(object->CreateArgument(), Adopt);
}

Strong<CArgument> CArgument::Create(uint8_t type)
{
    switch (type) {
    case ARGUMENT_NIL:
    case ARGUMENT_UNDEFINED:
        return MakeStrong<CArgument>(type);
    case ARGUMENT_BOOLEAN:
        return MakeStrong<CArgumentBoolean>();
    case ARGUMENT_STRING:
        return MakeStrong<CArgumentString>();
    case ARGUMENT_INTEGER:
        return MakeStrong<CArgumentInteger>();
    case ARGUMENT_FLOAT:
        return MakeStrong<CArgumentFloat>();
    case ARGUMENT_VECTOR2D:
        return MakeStrong<CArgumentVector2D>();
    case ARGUMENT_VECTOR3D:
        return MakeStrong<CArgumentVector3D>();
    case ARGUMENT_MATRIX4X4:
        return MakeStrong<CArgumentMatrix4x4>();
    case ARGUMENT_LONGINTEGER:
        return MakeStrong<CArgumentLongInteger>();
    case ARGUMENT_DOUBLE:
        return MakeStrong<CArgumentDouble>();
    case ARGUMENT_ARRAY:
        return MakeStrong<CArgumentArray>();
    case ARGUMENT_MAP:
        return MakeStrong<CArgumentMap>();
    case ARGUMENT_FUNCTION:
        return MakeStrong<CArgumentFunction>();
    case ARGUMENT_BYTES:
        return MakeStrong<CArgumentBytes>();
    default:
        // Elements, instances, script references and the reserved ids cannot be made from a type.
        return nullptr;
    }
}

bool CArgument::Read(Stream* stream)
{
    CBinaryReader reader(stream);
    return ReadPayload(reader, 0);
}

bool CArgument::Write(Stream* stream) const
{
    CBinaryWriter writer(stream);
    return WritePayload(writer, 0);
}

bool CArgument::GetSize(size_t& size) const
{
    return GetPayloadSize(size, 0);
}

Strong<CArgument> CArgument::Clone() const
{
    if (IsNull())
        return MakeStrong<CArgument>(GetType());
    return nullptr;
}

bool CArgument::ReadPayload(CBinaryReader&, unsigned)
{
    return IsNull();
}

bool CArgument::WritePayload(CBinaryWriter&, unsigned) const
{
    return IsNull();
}

bool CArgument::GetPayloadSize(size_t& size, unsigned) const
{
    if (!IsNull())
        return false;
    size = 0;
    return true;
}

bool CArgument::ToBoolean() const
{
    CORVANE_ASSERT(IsBoolean());
    if (!IsBoolean())
        return false;
    return static_cast<const CArgumentBoolean*>(this)->GetValue();
}

const char* CArgument::ToString(size_t* length) const
{
    CORVANE_ASSERT(IsString());
    if (!IsString()) {
        if (length)
            *length = 0;
        return nullptr;
    }
    const auto* string = static_cast<const CArgumentString*>(this);
    if (length)
        *length = string->GetLength();
    return string->GetString();
}

namespace {

// Truncates toward zero and saturates at the limits of Out; NaN gives 0 (a plain cast would be
// undefined for all of these).
template <typename Out>
Out SaturateToInteger(double value)
{
    using Limits = std::numeric_limits<Out>;
    if (std::isnan(value))
        return 0;
    if (value <= double(Limits::min()) - 1.0)
        return Limits::min();
    if (value >= double(Limits::max()) + 1.0)
        return Limits::max();
    return static_cast<Out>(value);
}

template <typename Out>
Out ToFloatingPoint(double value)
{
    if constexpr (std::is_same_v<Out, float>) {
        // Out-of-range doubles become infinities explicitly instead of through an undefined cast.
        if (value > double(std::numeric_limits<float>::max()))
            return std::numeric_limits<float>::infinity();
        if (value < -double(std::numeric_limits<float>::max()))
            return -std::numeric_limits<float>::infinity();
    }
    return static_cast<Out>(value);
}

template <typename Out>
bool ConvertNumber(const CArgument& argument, Out& out)
{
    constexpr bool floating = std::is_floating_point_v<Out>;
    switch (argument.GetType()) {
    case ARGUMENT_INTEGER: {
        const int32_t value = static_cast<const CArgumentInteger&>(argument).GetValue();
        out = static_cast<Out>(value);
        return true;
    }
    case ARGUMENT_LONGINTEGER: {
        // Integer outputs keep the low bits; modular conversion is defined since C++20.
        const int64_t value = static_cast<const CArgumentLongInteger&>(argument).GetValue();
        out = static_cast<Out>(value);
        return true;
    }
    case ARGUMENT_FLOAT:
    case ARGUMENT_DOUBLE: {
        const double value = argument.GetType() == ARGUMENT_FLOAT
                                 ? double(static_cast<const CArgumentFloat&>(argument).GetValue())
                                 : static_cast<const CArgumentDouble&>(argument).GetValue();
        if constexpr (floating)
            out = ToFloatingPoint<Out>(value);
        else
            out = SaturateToInteger<Out>(value);
        return true;
    }
    default:
        return false;
    }
}

} // namespace

bool CArgument::ToNumber(int32_t& out) const
{
    CORVANE_ASSERT(IsNumber());
    return ConvertNumber(*this, out);
}

bool CArgument::ToNumber(uint32_t& out) const
{
    CORVANE_ASSERT(IsNumber());
    return ConvertNumber(*this, out);
}

bool CArgument::ToNumber(int64_t& out) const
{
    CORVANE_ASSERT(IsNumber());
    return ConvertNumber(*this, out);
}

bool CArgument::ToNumber(uint64_t& out) const
{
    CORVANE_ASSERT(IsNumber());
    return ConvertNumber(*this, out);
}

bool CArgument::ToNumber(float& out) const
{
    CORVANE_ASSERT(IsNumber());
    return ConvertNumber(*this, out);
}

bool CArgument::ToNumber(double& out) const
{
    CORVANE_ASSERT(IsNumber());
    return ConvertNumber(*this, out);
}

bool CArgument::ToVector2D(CVector2D& out) const
{
    CORVANE_ASSERT(IsVector2D());
    if (!IsVector2D())
        return false;
    out = static_cast<const CArgumentVector2D*>(this)->GetValue();
    return true;
}

bool CArgument::ToVector3D(CVector3D& out) const
{
    CORVANE_ASSERT(IsVector3D());
    if (!IsVector3D())
        return false;
    out = static_cast<const CArgumentVector3D*>(this)->GetValue();
    return true;
}

bool CArgument::ToVector4D(float (&)[4]) const
{
    CORVANE_ASSERT(IsVector4D());
    return false;
}

bool CArgument::ToMatrix4x4(CMatrix4x4& out) const
{
    CORVANE_ASSERT(IsMatrix4x4());
    if (!IsMatrix4x4())
        return false;
    out = static_cast<const CArgumentMatrix4x4*>(this)->GetValue();
    return true;
}

CBaseObject* CArgument::ToObject() const
{
    CORVANE_ASSERT(IsObject());
    if (!IsObject())
        return nullptr;
    return static_cast<const CArgumentObject*>(this)->GetObject();
}

CBaseObject* CArgument::ToObject(const ReflectedClass* cls) const
{
    CBaseObject* pObject = ToObject();
    CORVANE_ASSERT(pObject);
    if (!pObject)
        return nullptr;
    const ReflectedClass* pInstanceClass = pObject->GetReflectedClass();
    CORVANE_ASSERT(pInstanceClass);
    if (!pInstanceClass)
        return nullptr;
    return pInstanceClass->IsA(cls) ? pObject : nullptr;
}

CFunction* CArgument::ToFunction() const
{
    CORVANE_ASSERT(IsFunction());
    if (!IsFunction())
        return nullptr;
    return static_cast<const CArgumentFunction*>(this)->GetFunction();
}

const uint8_t* CArgument::ToBytes(size_t* length) const
{
    CORVANE_ASSERT(IsBytes());
    if (!IsBytes()) {
        if (length)
            *length = 0;
        return nullptr;
    }
    const auto* bytes = static_cast<const CArgumentBytes*>(this);
    if (length)
        *length = bytes->GetLength();
    return bytes->GetData();
}

Stream* CArgument::ToStream() const
{
    CBaseObject* object = ToObject();
    if (!object)
        return nullptr;
    if (auto* stream = dynamic_cast<Stream*>(object))
        return stream;
    // Script stream instances hold their stream in a value object.
    if (auto* holder = dynamic_cast<CObjectValue<Strong<Stream>>*>(object))
        return holder->Value().Get();
    return nullptr;
}

} // namespace Corvane3D
