#pragma once
// A function value backed by a C++ callable: lets native code (and tests) hand a function to
// anything that takes a script function: event handlers, timers, commands.

#include "Engine/CorvaneArguments.h"
#include "Engine/Function.h"

#include <functional>
#include <utility>

namespace Corvane3D {

class CLambdaFunction : public CFunction {
public:
    using Body = std::function<bool(const CArgumentArray& arguments, CReturnValue* results)>;

    explicit CLambdaFunction(Body body) : m_body(std::move(body)) {}

    bool Call(const CArgumentArray& arguments, CReturnValue* results) override
    {
        return m_body ? m_body(arguments, results) : false;
    }

private:
    Body m_body;
};

} // namespace Corvane3D
