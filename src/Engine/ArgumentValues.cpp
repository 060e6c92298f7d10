// Payloads and copies of the values that are not containers.

#include "Engine/CorvaneArguments.h"

#include "ArgumentWire.h"
#include "Engine/CorvaneStream.h"

#include <cstring>

namespace Corvane3D {

namespace {

// Strings and bytes share the String form; its count is a signed 32-bit value on the other side.
constexpr size_t MaxWireLength = 0x7FFFFFFF;

} // namespace

template <typename Derived, typename T, uint8_t Type>
Strong<CArgument> CArgumentValue<Derived, T, Type>::Clone() const
{
    return MakeStrong<Derived>(m_value);
}

template <typename Derived, typename T, uint8_t Type>
bool CArgumentValue<Derived, T, Type>::ReadPayload(CBinaryReader& reader, unsigned)
{
    // All or nothing: a value cut short by the end of the message is not half updated.
    return ArgumentWire::ReadScalar(reader, m_value);
}

template <typename Derived, typename T, uint8_t Type>
bool CArgumentValue<Derived, T, Type>::WritePayload(CBinaryWriter& writer, unsigned) const
{
    return ArgumentWire::WriteScalar(writer, m_value);
}

template <typename Derived, typename T, uint8_t Type>
bool CArgumentValue<Derived, T, Type>::GetPayloadSize(size_t& size, unsigned) const
{
    size = sizeof(T);
    return true;
}

// The wire sizes are fixed by the protocol; the raw-byte form above relies on them.
static_assert(sizeof(CVector2D) == 8 && sizeof(CVector3D) == 12 && sizeof(CMatrix4x4) == 64);

template class CArgumentValue<CArgumentInteger, int32_t, ARGUMENT_INTEGER>;
template class CArgumentValue<CArgumentFloat, float, ARGUMENT_FLOAT>;
template class CArgumentValue<CArgumentLongInteger, int64_t, ARGUMENT_LONGINTEGER>;
template class CArgumentValue<CArgumentDouble, double, ARGUMENT_DOUBLE>;
template class CArgumentValue<CArgumentVector2D, CVector2D, ARGUMENT_VECTOR2D>;
template class CArgumentValue<CArgumentVector3D, CVector3D, ARGUMENT_VECTOR3D>;
template class CArgumentValue<CArgumentMatrix4x4, CMatrix4x4, ARGUMENT_MATRIX4X4>;

Strong<CArgument> CArgumentBoolean::Clone() const
{
    return MakeStrong<CArgumentBoolean>(m_value);
}

bool CArgumentBoolean::ReadPayload(CBinaryReader& reader, unsigned)
{
    uint8_t byte;
    if (!ArgumentWire::ReadScalar(reader, byte))
        return false;
    m_value = byte != 0;
    return true;
}

bool CArgumentBoolean::WritePayload(CBinaryWriter& writer, unsigned) const
{
    return ArgumentWire::WriteScalar(writer, uint8_t(m_value ? 1 : 0));
}

bool CArgumentBoolean::GetPayloadSize(size_t& size, unsigned) const
{
    size = 1;
    return true;
}

void CArgumentString::SetString(const char* text)
{
    SetString(text, text ? std::strlen(text) : 0);
}

void CArgumentString::SetString(const char* text, size_t length)
{
    if (!text)
        length = 0;
    m_text.assign(text ? text : "", length);
}

Strong<CArgument> CArgumentString::Clone() const
{
    return MakeStrong<CArgumentString>(m_text.data(), m_text.size());
}

bool CArgumentString::ReadPayload(CBinaryReader& reader, unsigned)
{
    // The reader checks the count against what remains before allocating and leaves the old
    // text in place on failure.
    return reader.ReadString(m_text);
}

bool CArgumentString::WritePayload(CBinaryWriter& writer, unsigned) const
{
    return m_text.size() <= MaxWireLength && writer.WriteString(m_text.data(), m_text.size());
}

bool CArgumentString::GetPayloadSize(size_t& size, unsigned) const
{
    if (m_text.size() > MaxWireLength)
        return false;
    size = GetStringSize(m_text.size());
    return true;
}

void CArgumentBytes::SetData(const void* data, size_t length)
{
    if (!data || length == 0) {
        std::vector<uint8_t>().swap(m_data);
        return;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    m_data.assign(bytes, bytes + length);
}

Strong<CArgument> CArgumentBytes::Clone() const
{
    return MakeStrong<CArgumentBytes>(m_data.data(), m_data.size());
}

bool CArgumentBytes::ReadPayload(CBinaryReader& reader, unsigned)
{
    uint32_t count;
    if (!reader.Read7BitEncodedInt(count))
        return false;
    std::vector<uint8_t>().swap(m_data);
    // A count from outside is checked before anything is allocated for it.
    if ((count & 0x80000000u) || count > reader.GetRemaining())
        return false;
    return reader.Read(m_data, count);
}

bool CArgumentBytes::WritePayload(CBinaryWriter& writer, unsigned) const
{
    if (m_data.size() > MaxWireLength)
        return false;
    return writer.WriteString(reinterpret_cast<const char*>(m_data.data()), m_data.size());
}

bool CArgumentBytes::GetPayloadSize(size_t& size, unsigned) const
{
    if (m_data.size() > MaxWireLength)
        return false;
    size = GetStringSize(m_data.size());
    return true;
}

Strong<CArgument> CArgumentObject::Clone() const
{
    auto clone = MakeStrong<CArgumentObject>(m_object.Get());
    clone->SetObjectContext(GetObjectContext());
    return clone;
}

// An instance has no wire form: refusing it keeps a bare type byte off the wire.
bool CArgumentObject::ReadPayload(CBinaryReader&, unsigned)
{
    return false;
}

bool CArgumentObject::WritePayload(CBinaryWriter&, unsigned) const
{
    return false;
}

bool CArgumentObject::GetPayloadSize(size_t&, unsigned) const
{
    return false;
}

Strong<CArgument> CArgumentNetObject::Clone() const
{
    return MakeStrong<CArgumentNetObject>(GetObject(), m_id, GetObjectContext());
}

bool CArgumentNetObject::ReadPayload(CBinaryReader& reader, unsigned)
{
    int32_t id;
    if (!ArgumentWire::ReadScalar(reader, id))
        return false;
    m_id = id;
    // An id that resolves to nothing must not leave a previously held element behind.
    INetObjectResolver* context = GetObjectContext();
    SetObject(id >= 0 && context ? context->ResolveNetObject(id) : nullptr);
    return true;
}

bool CArgumentNetObject::WritePayload(CBinaryWriter& writer, unsigned) const
{
    int32_t id = m_id;
    INetObjectResolver* context = GetObjectContext();
    if (CBaseObject* object = GetObject(); object && context)
        id = context->GetNetObjectId(object);
    return ArgumentWire::WriteScalar(writer, id);
}

bool CArgumentNetObject::GetPayloadSize(size_t& size, unsigned) const
{
    size = sizeof(int32_t);
    return true;
}

Strong<CArgument> CArgumentFunction::Clone() const
{
    return MakeStrong<CArgumentFunction>(m_function.Get());
}

bool CArgumentFunction::ReadPayload(CBinaryReader&, unsigned)
{
    return true;
}

bool CArgumentFunction::WritePayload(CBinaryWriter&, unsigned) const
{
    return true;
}

bool CArgumentFunction::GetPayloadSize(size_t& size, unsigned) const
{
    size = 0;
    return true;
}

bool CArgumentScriptRef::ReadPayload(CBinaryReader&, unsigned)
{
    return true;
}

bool CArgumentScriptRef::WritePayload(CBinaryWriter&, unsigned) const
{
    return true;
}

bool CArgumentScriptRef::GetPayloadSize(size_t& size, unsigned) const
{
    size = 0;
    return true;
}

} // namespace Corvane3D
