#pragma once
// Script-neutral values: what natives receive and return, what events, commands and timers
// carry, what the script engines convert to and from, and their wire form.

#include "Engine/BaseObject.h"
#include "Engine/CorvaneReference.h"
#include "Engine/Function.h"
#include "Engine/Mathematics/Matrix.h"
#include "Engine/Mathematics/Vector.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Corvane3D {

class CBinaryReader;
class CBinaryWriter;
class ReflectedClass;
class Stream;

enum eArgumentType : uint8_t {
    ARGUMENT_NIL = 0,
    ARGUMENT_BOOLEAN = 1,
    ARGUMENT_STRING = 2,
    ARGUMENT_TABLE = 3,
    ARGUMENT_INTEGER = 4,
    ARGUMENT_FLOAT = 5,
    ARGUMENT_NETOBJECT = 6,
    ARGUMENT_OBJECT = 7,
    ARGUMENT_VECTOR2D = 8,
    ARGUMENT_VECTOR3D = 9,
    ARGUMENT_VECTOR4D = 10,
    ARGUMENT_MATRIX4X4 = 11,
    ARGUMENT_UNDEFINED = 12,
    ARGUMENT_LUAREF = 13,
    ARGUMENT_JSVALUE = 14,
    ARGUMENT_LONGINTEGER = 15,
    ARGUMENT_DOUBLE = 16,
    ARGUMENT_ARRAY = 17,
    ARGUMENT_MAP = 18,
    ARGUMENT_FUNCTION = 19,
    ARGUMENT_SQREF = 20,
    ARGUMENT_BYTES = 21,
};
inline constexpr size_t ARGUMENT_TYPE_COUNT = 22;

// Enumerator names (for log lines) and display names (for modules), indexed by type id.
extern const char* const g_rgpszArgumentTypes[ARGUMENT_TYPE_COUNT];
extern const char* const g_rgpszArgumentTypeNames[ARGUMENT_TYPE_COUNT];

// Table lookups that are safe for any byte: ids past the table give "unknown".
const char* GetArgumentTypeEnumName(uint8_t type);
const char* GetArgumentTypeDisplayName(uint8_t type);

// Containers nested deeper than this are refused when read, written, measured or cloned:
// a few hundred bytes from a client must not be able to exhaust the stack.
inline constexpr unsigned MaxArgumentDepth = 32;

// Resolves element ids for element values; implemented by the net object manager.
class INetObjectResolver {
public:
    virtual ~INetObjectResolver() = default;
    // The element registered under `id`, borrowed; null when there is none.
    virtual CBaseObject* ResolveNetObject(int32_t id) = 0;
    // The current id of an element, or -1 when it is not registered.
    virtual int32_t GetNetObjectId(const CBaseObject* object) = 0;
};

// A reference-counted value with a one-byte type id. The type byte is never part of the
// payload: the container holding a value writes it in front.
class CArgument : public CRefCounted {
public:
    explicit CArgument(uint8_t type = ARGUMENT_NIL) : m_type(type) {}

    // The object's own value (CBaseObject::CreateArgument); a nil value for null.
    static Strong<CArgument> Create(CBaseObject* object);
    // An empty value of a type the wire can create, or null for any other id.
    static Strong<CArgument> Create(uint8_t type);

    uint8_t GetType() const { return m_type; }
    const char* GetTypeName() const { return GetArgumentTypeDisplayName(m_type); }

    INetObjectResolver* GetObjectContext() const { return m_pObjectContext; }
    void SetObjectContext(INetObjectResolver* context) { m_pObjectContext = context; }

    // The payload's wire form. Write refuses (writing nothing) a value that cannot be written
    // completely; GetSize fails for the same values.
    bool Read(Stream* stream);
    bool Write(Stream* stream) const;
    bool GetSize(size_t& size) const;

    // A new value equal to this one, or null when the type cannot be copied.
    virtual Strong<CArgument> Clone() const;

    // Payload operations at a container nesting depth (0 for a value that is not nested).
    virtual bool ReadPayload(CBinaryReader& reader, unsigned depth);
    virtual bool WritePayload(CBinaryWriter& writer, unsigned depth) const;
    virtual bool GetPayloadSize(size_t& size, unsigned depth) const;

    bool IsNull() const { return m_type == ARGUMENT_NIL || m_type == ARGUMENT_UNDEFINED; }
    bool IsUndefined() const { return m_type == ARGUMENT_UNDEFINED; }
    bool IsBoolean() const { return m_type == ARGUMENT_BOOLEAN; }
    bool IsString() const { return m_type == ARGUMENT_STRING; }
    bool IsNumber() const
    {
        return m_type == ARGUMENT_INTEGER || m_type == ARGUMENT_FLOAT || m_type == ARGUMENT_LONGINTEGER ||
               m_type == ARGUMENT_DOUBLE;
    }
    bool IsObject() const { return m_type == ARGUMENT_NETOBJECT || m_type == ARGUMENT_OBJECT; }
    bool IsVector2D() const { return m_type == ARGUMENT_VECTOR2D; }
    bool IsVector3D() const { return m_type == ARGUMENT_VECTOR3D; }
    bool IsVector4D() const { return m_type == ARGUMENT_VECTOR4D; }
    bool IsMatrix4x4() const { return m_type == ARGUMENT_MATRIX4X4; }
    bool IsArray() const { return m_type == ARGUMENT_ARRAY; }
    bool IsMap() const { return m_type == ARGUMENT_MAP; }
    bool IsFunction() const { return m_type == ARGUMENT_FUNCTION; }
    bool IsBytes() const { return m_type == ARGUMENT_BYTES; }

    // Conversions assert their type test. On the wrong type the assertion is logged, number
    // and vector outputs are left unchanged (the result is false) and the others give an
    // empty result.
    bool ToBoolean() const;
    // The text (NUL-terminated, may hold NUL bytes); `length` receives its byte count.
    const char* ToString(size_t* length = nullptr) const;
    // Floating values truncate toward zero and saturate at the output's limits (NaN gives 0);
    // integers are converted or cut to the output width.
    bool ToNumber(int32_t& out) const;
    bool ToNumber(uint32_t& out) const;
    bool ToNumber(int64_t& out) const;
    bool ToNumber(uint64_t& out) const;
    bool ToNumber(float& out) const;
    bool ToNumber(double& out) const;
    bool ToVector2D(CVector2D& out) const;
    bool ToVector3D(CVector3D& out) const;
    // No value class carries four components, so this always asserts.
    bool ToVector4D(float (&out)[4]) const;
    bool ToMatrix4x4(CMatrix4x4& out) const;
    // The object of an instance or element value.
    CBaseObject* ToObject() const;
    // The object when its reflected class is `cls` or derives from it; otherwise null.
    CBaseObject* ToObject(const ReflectedClass* cls) const;
    CFunction* ToFunction() const;
    const uint8_t* ToBytes(size_t* length) const;
    // The stream behind a script "Stream" instance (or a stream object itself), or null.
    Stream* ToStream() const;

protected:
    ~CArgument() override = default;

private:
    INetObjectResolver* m_pObjectContext = nullptr;
    uint8_t m_type;
};

// A fixed-size payload of trivially copyable data written as its raw little-endian bytes:
// the numbers, the vectors and the matrix. `Derived` is the concrete class, so clones keep it.
template <typename Derived, typename T, uint8_t Type>
class CArgumentValue : public CArgument {
public:
    const T& GetValue() const { return m_value; }
    void SetValue(const T& value) { m_value = value; }

    Strong<CArgument> Clone() const override;
    bool ReadPayload(CBinaryReader& reader, unsigned depth) override;
    bool WritePayload(CBinaryWriter& writer, unsigned depth) const override;
    bool GetPayloadSize(size_t& size, unsigned depth) const override;

protected:
    CArgumentValue() : CArgument(Type), m_value{} {}
    explicit CArgumentValue(const T& value) : CArgument(Type), m_value(value) {}

private:
    T m_value;
};

#define CORVANE_ARGUMENT_VALUE_CLASS(Name, T, Type)                                                              \
    class Name final : public CArgumentValue<Name, T, Type> {                                                    \
    public:                                                                                                      \
        Name() = default;                                                                                        \
        explicit Name(const T& value) : CArgumentValue(value) {}                                                 \
    };                                                                                                           \
    extern template class CArgumentValue<Name, T, Type>;

CORVANE_ARGUMENT_VALUE_CLASS(CArgumentInteger, int32_t, ARGUMENT_INTEGER)
CORVANE_ARGUMENT_VALUE_CLASS(CArgumentFloat, float, ARGUMENT_FLOAT)
CORVANE_ARGUMENT_VALUE_CLASS(CArgumentLongInteger, int64_t, ARGUMENT_LONGINTEGER)
CORVANE_ARGUMENT_VALUE_CLASS(CArgumentDouble, double, ARGUMENT_DOUBLE)
CORVANE_ARGUMENT_VALUE_CLASS(CArgumentVector2D, CVector2D, ARGUMENT_VECTOR2D)
CORVANE_ARGUMENT_VALUE_CLASS(CArgumentVector3D, CVector3D, ARGUMENT_VECTOR3D)
CORVANE_ARGUMENT_VALUE_CLASS(CArgumentMatrix4x4, CMatrix4x4, ARGUMENT_MATRIX4X4)

#undef CORVANE_ARGUMENT_VALUE_CLASS

// Written as one byte 0 or 1; any non-zero byte reads as true.
class CArgumentBoolean final : public CArgument {
public:
    explicit CArgumentBoolean(bool value = false) : CArgument(ARGUMENT_BOOLEAN), m_value(value) {}

    bool GetValue() const { return m_value; }
    void SetValue(bool value) { m_value = value; }

    Strong<CArgument> Clone() const override;
    bool ReadPayload(CBinaryReader& reader, unsigned depth) override;
    bool WritePayload(CBinaryWriter& writer, unsigned depth) const override;
    bool GetPayloadSize(size_t& size, unsigned depth) const override;

private:
    bool m_value;
};

// UTF-8 text that may hold NUL bytes; always NUL-terminated after its length.
class CArgumentString final : public CArgument {
public:
    CArgumentString() : CArgument(ARGUMENT_STRING) {}
    explicit CArgumentString(const char* text) : CArgument(ARGUMENT_STRING) { SetString(text); }
    CArgumentString(const char* text, size_t length) : CArgument(ARGUMENT_STRING) { SetString(text, length); }

    void SetString(const char* text);
    void SetString(const char* text, size_t length);
    const char* GetString() const { return m_text.c_str(); }
    size_t GetLength() const { return m_text.size(); }

    Strong<CArgument> Clone() const override;
    bool ReadPayload(CBinaryReader& reader, unsigned depth) override;
    bool WritePayload(CBinaryWriter& writer, unsigned depth) const override;
    bool GetPayloadSize(size_t& size, unsigned depth) const override;

private:
    std::string m_text;
};

// Raw bytes; same wire form as a string.
class CArgumentBytes final : public CArgument {
public:
    CArgumentBytes() : CArgument(ARGUMENT_BYTES) {}
    CArgumentBytes(const void* data, size_t length) : CArgument(ARGUMENT_BYTES) { SetData(data, length); }

    void SetData(const void* data, size_t length);
    // Null when empty.
    const uint8_t* GetData() const { return m_data.empty() ? nullptr : m_data.data(); }
    size_t GetLength() const { return m_data.size(); }

    Strong<CArgument> Clone() const override;
    bool ReadPayload(CBinaryReader& reader, unsigned depth) override;
    bool WritePayload(CBinaryWriter& writer, unsigned depth) const override;
    bool GetPayloadSize(size_t& size, unsigned depth) const override;

private:
    std::vector<uint8_t> m_data;
};

// An engine object seen by scripts ("instance"). It has no wire form.
class CArgumentObject : public CArgument {
public:
    explicit CArgumentObject(CBaseObject* object) : CArgumentObject(ARGUMENT_OBJECT, object) {}

    CBaseObject* GetObject() const { return m_object.Get(); }
    void SetObject(CBaseObject* object) { m_object = object; }

    Strong<CArgument> Clone() const override;
    bool ReadPayload(CBinaryReader& reader, unsigned depth) override;
    bool WritePayload(CBinaryWriter& writer, unsigned depth) const override;
    bool GetPayloadSize(size_t& size, unsigned depth) const override;

protected:
    CArgumentObject(uint8_t type, CBaseObject* object) : CArgument(type), m_object(object) {}

private:
    Strong<CBaseObject> m_object;
};

// A networked element, written as its Int32 id. Its object context resolves ids read from the
// wire to the element itself.
class CArgumentNetObject final : public CArgumentObject {
public:
    CArgumentNetObject(CBaseObject* object, int32_t id, INetObjectResolver* context)
        : CArgumentObject(ARGUMENT_NETOBJECT, object), m_id(id)
    {
        SetObjectContext(context);
    }

    // The stored id (the id last read, or given at creation).
    int32_t GetId() const { return m_id; }

    Strong<CArgument> Clone() const override;
    bool ReadPayload(CBinaryReader& reader, unsigned depth) override;
    bool WritePayload(CBinaryWriter& writer, unsigned depth) const override;
    bool GetPayloadSize(size_t& size, unsigned depth) const override;

private:
    int32_t m_id;
};

// A callable; it travels as its type byte alone and reads back with no function.
class CArgumentFunction final : public CArgument {
public:
    explicit CArgumentFunction(CFunction* function = nullptr) : CArgument(ARGUMENT_FUNCTION), m_function(function) {}

    CFunction* GetFunction() const { return m_function.Get(); }
    void SetFunction(CFunction* function) { m_function = function; }

    Strong<CArgument> Clone() const override;
    bool ReadPayload(CBinaryReader& reader, unsigned depth) override;
    bool WritePayload(CBinaryWriter& writer, unsigned depth) const override;
    bool GetPayloadSize(size_t& size, unsigned depth) const override;

private:
    Strong<CFunction> m_function;
};

// Base of the values a script engine carries opaquely through native code. They have an
// empty wire form; each engine binding derives its own and makes Clone take a new reference
// to the same script value.
class CArgumentScriptRef : public CArgument {
public:
    Strong<CArgument> Clone() const override = 0;
    bool ReadPayload(CBinaryReader& reader, unsigned depth) override;
    bool WritePayload(CBinaryWriter& writer, unsigned depth) const override;
    bool GetPayloadSize(size_t& size, unsigned depth) const override;

protected:
    explicit CArgumentScriptRef(uint8_t type) : CArgument(type) {}
};

class CArgumentLuaRef : public CArgumentScriptRef {
protected:
    CArgumentLuaRef() : CArgumentScriptRef(ARGUMENT_LUAREF) {}
};

class CArgumentJSValue : public CArgumentScriptRef {
protected:
    CArgumentJSValue() : CArgumentScriptRef(ARGUMENT_JSVALUE) {}
};

class CArgumentSqRef : public CArgumentScriptRef {
protected:
    CArgumentSqRef() : CArgumentScriptRef(ARGUMENT_SQREF) {}
};

// An ordered list of owned values. On the wire: a one-byte count, then each element's type
// byte and payload; arrays of more than 255 elements are refused rather than miscounted.
class CArgumentArray : public CArgument {
public:
    static constexpr size_t MaxWireCount = 255;

    explicit CArgumentArray(size_t capacityHint = 0) : CArgument(ARGUMENT_ARRAY) { m_elements.reserve(capacityHint); }

    void AddNull();
    void AddUndefined();
    void AddBoolean(bool value);
    void AddString(const char* text);
    void AddString(const char* text, size_t length);
    void AddNumber(int32_t value);
    void AddNumber(int64_t value);
    void AddNumber(float value);
    void AddNumber(double value);
    void AddVector2D(const CVector2D& value);
    void AddVector3D(const CVector3D& value);
    void AddMatrix4x4(const CMatrix4x4& value);
    void AddBytes(const void* data, size_t length);
    // The object's own value (an element value for elements); nil for null.
    void AddObject(CBaseObject* object);
    // Appends a clone; undefined when the value cannot be cloned.
    void Add(const CArgument* value);
    // Appends the value itself, taking over the reference; a null value is stored as nil.
    void AddAndOwn(Strong<CArgument> value);
    // Appends clones of this array's elements to `target`.
    void InsertTo(CArgumentArray& target) const;

    size_t GetArrayCount() const { return m_elements.size(); }
    // Borrowed; null past the end.
    CArgument* GetAt(size_t index) const { return index < m_elements.size() ? m_elements[index].Get() : nullptr; }
    // Reserves room without changing the count.
    void Resize(size_t capacity) { m_elements.reserve(capacity); }
    size_t GetCapacity() const { return m_elements.capacity(); }
    void Clear();
    // Hands every element to `target` (emptied first) without touching counts; this array ends empty.
    void Move(CArgumentArray& target);

    Strong<CArgument> Clone() const override;
    bool ReadPayload(CBinaryReader& reader, unsigned depth) override;
    bool WritePayload(CBinaryWriter& writer, unsigned depth) const override;
    bool GetPayloadSize(size_t& size, unsigned depth) const override;

    // Deep copy that gives up (null) past the nesting limit.
    Strong<CArgument> CloneAtDepth(unsigned depth) const;

private:
    std::vector<Strong<CArgument>> m_elements;
};

// The list a native fills with its results.
class CReturnValue : public CArgumentArray {
public:
    using CArgumentArray::CArgumentArray;
};

// Byte-string keys (exact match) to owned values. On the wire: a VarUInt count, then for each
// entry the value's type byte, the key as a String and the value's payload. The order of
// entries is the hash map's own; readers must not rely on it.
class CArgumentMap final : public CArgument {
public:
    using Entries = std::unordered_map<std::string, Strong<CArgument>>;

    explicit CArgumentMap(size_t bucketHint = 0) : CArgument(ARGUMENT_MAP) { m_entries.reserve(bucketHint); }

    // Borrowed; null when absent.
    CArgument* Get(std::string_view key) const;
    // Stores the value under the key, taking over the reference; a null value is stored as nil.
    void Set(std::string_view key, Strong<CArgument> value);
    // True when the key existed.
    bool Remove(std::string_view key);
    void Clear();

    size_t GetMapCount() const { return m_entries.size(); }
    const Entries& GetEntries() const { return m_entries; }

    Strong<CArgument> Clone() const override;
    bool ReadPayload(CBinaryReader& reader, unsigned depth) override;
    bool WritePayload(CBinaryWriter& writer, unsigned depth) const override;
    bool GetPayloadSize(size_t& size, unsigned depth) const override;

    Strong<CArgument> CloneAtDepth(unsigned depth) const;

private:
    Entries m_entries;
};

} // namespace Corvane3D
