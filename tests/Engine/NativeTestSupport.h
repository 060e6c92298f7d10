#pragma once
// Shared by the native, reflection and scripting tests: argument lists from C++ values, and
// functions whose body is a lambda.

#include "Engine/CorvaneArguments.h"
#include "Engine/LambdaFunction.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace NativeTest {

using namespace Corvane3D;

struct UndefinedValue {
};
inline constexpr UndefinedValue Undefined{};

// An array value of numbers, for the vector checks that accept arrays.
struct NumberList {
    std::vector<double> numbers;
    // Appended as a string instead of a number, to spoil the array.
    int stringAt = -1;
};

inline void AddOne(CArgumentArray& list, std::nullptr_t) { list.AddNull(); }
inline void AddOne(CArgumentArray& list, UndefinedValue) { list.AddUndefined(); }
inline void AddOne(CArgumentArray& list, bool value) { list.AddBoolean(value); }
inline void AddOne(CArgumentArray& list, int32_t value) { list.AddNumber(value); }
inline void AddOne(CArgumentArray& list, int64_t value) { list.AddNumber(value); }
inline void AddOne(CArgumentArray& list, float value) { list.AddNumber(value); }
inline void AddOne(CArgumentArray& list, double value) { list.AddNumber(value); }
inline void AddOne(CArgumentArray& list, const char* text) { list.AddString(text); }
inline void AddOne(CArgumentArray& list, const std::string& text) { list.AddString(text.data(), text.size()); }
inline void AddOne(CArgumentArray& list, const CVector2D& value) { list.AddVector2D(value); }
inline void AddOne(CArgumentArray& list, const CVector3D& value) { list.AddVector3D(value); }
inline void AddOne(CArgumentArray& list, const CMatrix4x4& value) { list.AddMatrix4x4(value); }
inline void AddOne(CArgumentArray& list, CBaseObject* object) { list.AddObject(object); }
inline void AddOne(CArgumentArray& list, CFunction* function)
{
    list.AddAndOwn(MakeStrong<CArgumentFunction>(function));
}
inline void AddOne(CArgumentArray& list, const CArgument* value) { list.Add(value); }
inline void AddOne(CArgumentArray& list, const NumberList& numbers)
{
    auto array = MakeStrong<CArgumentArray>();
    for (size_t i = 0; i < numbers.numbers.size(); ++i) {
        if (int(i) == numbers.stringAt)
            array->AddString(std::to_string(numbers.numbers[i]).c_str());
        else
            array->AddNumber(numbers.numbers[i]);
    }
    list.AddAndOwn(std::move(array));
}
template <typename T>
void AddOne(CArgumentArray& list, const Strong<T>& object)
{
    AddOne(list, object.Get());
}

template <typename... Values>
Strong<CArgumentArray> Args(const Values&... values)
{
    auto list = MakeStrong<CArgumentArray>(sizeof...(values));
    (AddOne(*list, values), ...);
    return list;
}

// A function that records every call's arguments and runs an optional body.
class CRecordingFunction : public CFunction {
public:
    using Body = std::function<bool(const CArgumentArray&, CReturnValue*)>;

    explicit CRecordingFunction(Body body = nullptr) : m_body(std::move(body)) {}

    bool Call(const CArgumentArray& arguments, CReturnValue* results) override
    {
        calls.push_back(Strong<CArgument>(arguments.Clone()));
        return m_body ? m_body(arguments, results) : true;
    }

    size_t CallCount() const { return calls.size(); }
    // Argument `index` of call `call`, borrowed.
    CArgument* ArgumentOf(size_t call, size_t index) const
    {
        return static_cast<CArgumentArray*>(calls.at(call).Get())->GetAt(index);
    }
    size_t ArgumentCountOf(size_t call) const
    {
        return static_cast<CArgumentArray*>(calls.at(call).Get())->GetArrayCount();
    }

    std::vector<Strong<CArgument>> calls;

private:
    Body m_body;
};

inline std::string StringOf(const CArgument* value)
{
    if (!value || !value->IsString())
        return "<not a string>";
    size_t length = 0;
    const char* text = value->ToString(&length);
    return std::string(text, length);
}

inline int32_t IntegerOf(const CArgument* value)
{
    int32_t number = -12345;
    if (value && value->IsNumber())
        value->ToNumber(number);
    return number;
}

} // namespace NativeTest
