#pragma once
// Assertions are reported to the log as errors and execution continues.

namespace Corvane3D {

// Process-wide switch, on by default.
void SetAssertionsEnabled(bool enabled);
bool AreAssertionsEnabled();

// Logs "Assertion failed!" with file, function, line and expression at error level.
void ReportAssertion(const char* file, const char* function, int line, const char* expression);

} // namespace Corvane3D

#define CORVANE_ASSERT(expr)                                                                    \
    do {                                                                                        \
        if (!(expr) && ::Corvane3D::AreAssertionsEnabled())                                     \
            ::Corvane3D::ReportAssertion(__FILE__, __PRETTY_FUNCTION__, __LINE__, #expr);       \
    } while (0)
