// Arrays and maps of values: building, copying and their wire form.

#include "Engine/CorvaneArguments.h"

#include "Engine/Context.h"
#include "ArgumentWire.h"
#include "Engine/CorvaneStream.h"

#include <utility>

namespace Corvane3D {

namespace {

// The map's count and keys use the String/VarUInt forms, whose counts are signed 32-bit values
// on the other side.
constexpr size_t MaxWireCount32 = 0x7FFFFFFF;

// The smallest map entry on the wire: a type byte and an empty key.
constexpr uint64_t MinMapEntrySize = 2;

// Nested containers are copied with the depth carried along; everything else clones itself.
Strong<CArgument> CloneElement(const CArgument& value, unsigned depth)
{
    if (const auto* array = dynamic_cast<const CArgumentArray*>(&value))
        return array->CloneAtDepth(depth);
    if (const auto* map = dynamic_cast<const CArgumentMap*>(&value))
        return map->CloneAtDepth(depth);
    return value.Clone();
}

} // namespace

void CArgumentArray::AddNull()
{
    m_elements.push_back(MakeStrong<CArgument>(ARGUMENT_NIL));
}

void CArgumentArray::AddUndefined()
{
    m_elements.push_back(MakeStrong<CArgument>(ARGUMENT_UNDEFINED));
}

void CArgumentArray::AddBoolean(bool value)
{
    m_elements.push_back(MakeStrong<CArgumentBoolean>(value));
}

void CArgumentArray::AddString(const char* text)
{
    m_elements.push_back(MakeStrong<CArgumentString>(text));
}

void CArgumentArray::AddString(const char* text, size_t length)
{
    m_elements.push_back(MakeStrong<CArgumentString>(text, length));
}

void CArgumentArray::AddNumber(int32_t value)
{
    m_elements.push_back(MakeStrong<CArgumentInteger>(value));
}

void CArgumentArray::AddNumber(int64_t value)
{
    m_elements.push_back(MakeStrong<CArgumentLongInteger>(value));
}

void CArgumentArray::AddNumber(float value)
{
    m_elements.push_back(MakeStrong<CArgumentFloat>(value));
}

void CArgumentArray::AddNumber(double value)
{
    m_elements.push_back(MakeStrong<CArgumentDouble>(value));
}

void CArgumentArray::AddVector2D(const CVector2D& value)
{
    m_elements.push_back(MakeStrong<CArgumentVector2D>(value));
}

void CArgumentArray::AddVector3D(const CVector3D& value)
{
    m_elements.push_back(MakeStrong<CArgumentVector3D>(value));
}

void CArgumentArray::AddMatrix4x4(const CMatrix4x4& value)
{
    m_elements.push_back(MakeStrong<CArgumentMatrix4x4>(value));
}

void CArgumentArray::AddBytes(const void* data, size_t length)
{
    m_elements.push_back(MakeStrong<CArgumentBytes>(data, length));
}

void CArgumentArray::AddObject(CBaseObject* object)
{
    m_elements.push_back(Create(object));
}

void CArgumentArray::Add(const CArgument* value)
{
    Strong<CArgument> clone = value ? value->Clone() : nullptr;
    if (!clone)
        clone = MakeStrong<CArgument>(ARGUMENT_UNDEFINED);
    m_elements.push_back(std::move(clone));
}

void CArgumentArray::AddAndOwn(Strong<CArgument> value)
{
    // Readers of the list never meet a null element.
    if (!value)
        value = MakeStrong<CArgument>(ARGUMENT_NIL);
    m_elements.push_back(std::move(value));
}

void CArgumentArray::InsertTo(CArgumentArray& target) const
{
    if (&target == this) {
        // Cloning into ourselves would walk the elements we are appending.
        const size_t count = m_elements.size();
        target.m_elements.reserve(count * 2);
        for (size_t i = 0; i < count; ++i)
            target.Add(m_elements[i].Get());
        return;
    }
    target.m_elements.reserve(target.m_elements.size() + m_elements.size());
    for (const Strong<CArgument>& element : m_elements)
        target.Add(element.Get());
}

void CArgumentArray::Clear()
{
    // Released outside the list: a value's destruction may reach back into this array.
    std::vector<Strong<CArgument>> released;
    released.swap(m_elements);
}

void CArgumentArray::Move(CArgumentArray& target)
{
    if (&target == this)
        return;
    target.Clear();
    target.m_elements = std::move(m_elements);
    m_elements.clear();
}

Strong<CArgument> CArgumentArray::Clone() const
{
    return CloneAtDepth(0);
}

Strong<CArgument> CArgumentArray::CloneAtDepth(unsigned depth) const
{
    // A structure nested past the limit (or holding itself) cannot be copied.
    if (depth >= MaxArgumentDepth)
        return nullptr;
    auto clone = MakeStrong<CArgumentArray>(m_elements.capacity());
    clone->SetObjectContext(GetObjectContext());
    for (const Strong<CArgument>& element : m_elements) {
        Strong<CArgument> copy = CloneElement(*element, depth + 1);
        if (!copy && (element->IsArray() || element->IsMap()))
            return nullptr;
        clone->AddAndOwn(copy ? std::move(copy) : MakeStrong<CArgument>(ARGUMENT_UNDEFINED));
    }
    return clone;
}

bool CArgumentArray::ReadPayload(CBinaryReader& reader, unsigned depth)
{
    if (depth >= MaxArgumentDepth)
        return false;
    uint8_t count = 0;
    // An empty message carries an empty list; a nested list must have its count.
    if (!ArgumentWire::ReadScalar(reader, count) && depth > 0)
        return false;
    Clear();
    // Each element needs at least its type byte.
    if (count > reader.GetRemaining())
        return false;
    m_elements.reserve(count);
    for (unsigned i = 1; i <= count; ++i) {
        uint8_t type;
        if (!ArgumentWire::ReadScalar(reader, type))
            return false;
        Strong<CArgument> value = Create(type);
        if (!value) {
            if (Context* context = GetContext())
                context->LogWarn("CArgument::Create(%s) - Failed. (Argument %u of %u)", GetArgumentTypeEnumName(type),
                                 i, unsigned(count));
            return false;
        }
        value->SetObjectContext(GetObjectContext());
        if (!value->ReadPayload(reader, depth + 1)) {
            if (Context* context = GetContext())
                context->LogWarn("CArgument::Create(%s)->Read(pStream) - Failed. (Argument %u of %u)",
                                 GetArgumentTypeEnumName(type), i, unsigned(count));
            return false;
        }
        m_elements.push_back(std::move(value));
    }
    return true;
}

bool CArgumentArray::WritePayload(CBinaryWriter& writer, unsigned depth) const
{
    // Measuring first refuses an unwritable list before any of its bytes reach the stream.
    size_t size;
    if (depth == 0 && !GetPayloadSize(size, depth))
        return false;
    if (depth >= MaxArgumentDepth || m_elements.size() > MaxWireCount)
        return false;
    if (!ArgumentWire::WriteScalar(writer, uint8_t(m_elements.size())))
        return false;
    for (const Strong<CArgument>& element : m_elements) {
        if (!ArgumentWire::WriteScalar(writer, element->GetType()) || !element->WritePayload(writer, depth + 1))
            return false;
    }
    return true;
}

bool CArgumentArray::GetPayloadSize(size_t& size, unsigned depth) const
{
    // The count is one byte: a longer list would be written with a count that lies.
    if (depth >= MaxArgumentDepth || m_elements.size() > MaxWireCount)
        return false;
    size_t total = 1;
    for (const Strong<CArgument>& element : m_elements) {
        size_t elementSize;
        if (!element->GetPayloadSize(elementSize, depth + 1))
            return false;
        total += 1 + elementSize;
    }
    size = total;
    return true;
}

CArgument* CArgumentMap::Get(std::string_view key) const
{
    auto found = m_entries.find(std::string(key));
    return found != m_entries.end() ? found->second.Get() : nullptr;
}

void CArgumentMap::Set(std::string_view key, Strong<CArgument> value)
{
    if (!value)
        value = MakeStrong<CArgument>(ARGUMENT_NIL);
    auto [entry, inserted] = m_entries.try_emplace(std::string(key));
    if (inserted || entry->second != value.Get()) {
        // Swapped out first so the old value is released after the entry already holds the new one.
        Strong<CArgument> old = std::exchange(entry->second, std::move(value));
    }
}

bool CArgumentMap::Remove(std::string_view key)
{
    auto found = m_entries.find(std::string(key));
    if (found == m_entries.end())
        return false;
    Strong<CArgument> released = std::move(found->second);
    m_entries.erase(found);
    return true;
}

void CArgumentMap::Clear()
{
    Entries released;
    released.swap(m_entries);
}

Strong<CArgument> CArgumentMap::Clone() const
{
    return CloneAtDepth(0);
}

Strong<CArgument> CArgumentMap::CloneAtDepth(unsigned depth) const
{
    if (depth >= MaxArgumentDepth)
        return nullptr;
    auto clone = MakeStrong<CArgumentMap>(m_entries.size());
    clone->SetObjectContext(GetObjectContext());
    for (const auto& [key, value] : m_entries) {
        Strong<CArgument> copy = CloneElement(*value, depth + 1);
        if (!copy && (value->IsArray() || value->IsMap()))
            return nullptr;
        clone->Set(key, copy ? std::move(copy) : MakeStrong<CArgument>(ARGUMENT_UNDEFINED));
    }
    return clone;
}

bool CArgumentMap::ReadPayload(CBinaryReader& reader, unsigned depth)
{
    if (depth >= MaxArgumentDepth)
        return false;
    uint32_t count = 0;
    // An empty message carries an empty map; a malformed or missing count otherwise fails.
    const bool empty = depth == 0 && reader.GetRemaining() == 0;
    if (!empty && !reader.Read7BitEncodedInt(count))
        return false;
    Clear();
    // Checked before the bucket array is sized: a five-byte count must not reserve gigabytes.
    if (count > MaxWireCount32 || count > reader.GetRemaining() / MinMapEntrySize)
        return false;
    m_entries.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t type;
        std::string key;
        if (!ArgumentWire::ReadScalar(reader, type) || !reader.ReadString(key))
            return false;
        Strong<CArgument> value = Create(type);
        if (!value) {
            if (Context* context = GetContext())
                context->LogWarn("CArgument::Create(%s) - Failed", GetArgumentTypeEnumName(type));
            return false;
        }
        value->SetObjectContext(GetObjectContext());
        if (!value->ReadPayload(reader, depth + 1))
            return false;
        Set(key, std::move(value));
    }
    return true;
}

bool CArgumentMap::WritePayload(CBinaryWriter& writer, unsigned depth) const
{
    size_t size;
    if (depth == 0 && !GetPayloadSize(size, depth))
        return false;
    if (depth >= MaxArgumentDepth || m_entries.size() > MaxWireCount32)
        return false;
    if (!writer.Write7BitEncodedInt(uint32_t(m_entries.size())))
        return false;
    for (const auto& [key, value] : m_entries) {
        if (key.size() > MaxWireCount32)
            return false;
        if (!ArgumentWire::WriteScalar(writer, value->GetType()) || !writer.WriteString(key.data(), key.size()) ||
            !value->WritePayload(writer, depth + 1))
            return false;
    }
    return true;
}

bool CArgumentMap::GetPayloadSize(size_t& size, unsigned depth) const
{
    if (depth >= MaxArgumentDepth || m_entries.size() > MaxWireCount32)
        return false;
    size_t total = Get7BitEncodedIntSize(uint32_t(m_entries.size()));
    for (const auto& [key, value] : m_entries) {
        size_t valueSize;
        if (key.size() > MaxWireCount32 || !value->GetPayloadSize(valueSize, depth + 1))
            return false;
        total += 1 + GetStringSize(key.size()) + valueSize;
    }
    size = total;
    return true;
}

} // namespace Corvane3D
