#include "JSInternal.h"

#include <mozilla/Span.h>

#include <cstdarg>
#include <cstdio>

namespace Corvane3D::JSUtil {

namespace {

// Length of the well-formed UTF-8 sequence at `p`, or 0.
size_t SequenceLength(const unsigned char* p, size_t remaining)
{
    const unsigned char lead = p[0];
    size_t length = 0;
    uint32_t minimum = 0;
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (length > remaining)
        return 0;
    uint32_t code = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (p[i] & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

// Error texts come from natives and may be cut inside a character; the engine wants UTF-8.
void MakeWellFormed(std::string& text)
{
    std::string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t i = 0; i < text.size();) {
        const size_t length = SequenceLength(bytes + i, text.size() - i);
        if (length == 0) {
            out.push_back('?');
            ++i;
            continue;
        }
        out.append(text, i, length);
        i += length;
    }
    text.swap(out);
}

} // namespace

bool StringToUTF8(JSContext* cx, JSString* string, std::string& out)
{
    JS::RootedString rooted(cx, string);
    JSLinearString* linear = JS_EnsureLinearString(cx, rooted);
    if (!linear)
        return false;
    const size_t length = JS::GetDeflatedUTF8StringLength(linear);
    out.resize(length);
    if (length > 0)
        JS::DeflateStringToUTF8Buffer(linear, mozilla::Span<char>(out.data(), length));
    return true;
}

bool ToString(JSContext* cx, JS::HandleValue value, std::string& out)
{
    JS::RootedString string(cx, JS::ToString(cx, value));
    return string && StringToUTF8(cx, string, out);
}

JSString* NewString(JSContext* cx, const char* text, size_t length)
{
    if (!text)
        return JS_GetEmptyString(cx);
    if (JSString* string = JS_NewStringCopyUTF8N(cx, JS::UTF8Chars(text, length)))
        return string;
    JS_ClearPendingException(cx);
    size_t wideLength = 0;
    JS::TwoByteCharsZ wide = JS::LossyUTF8CharsToNewTwoByteCharsZ(cx, JS::UTF8Chars(text, length), &wideLength,
                                                                   js::MallocArena);
    if (!wide.get())
        return nullptr;
    JSString* string = JS_NewUCStringCopyN(cx, wide.get(), wideLength);
    js_free(wide.get());
    return string;
}

bool ThrowError(JSContext* cx, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    char buffer[4096];
    std::vsnprintf(buffer, sizeof(buffer), format, arguments);
    va_end(arguments);
    std::string text(buffer);
    MakeWellFormed(text);
    CJSScripting* scripting = GetEngine(cx);
    CJSScriptEnvironment* environment = scripting ? scripting->GetCurrentEnvironment() : nullptr;
    mozilla::Maybe<JSAutoRealm> realm;
    if (environment && environment->GetGlobal())
        realm.emplace(cx, environment->GetGlobal());
    JS_ReportErrorUTF8(cx, "%s", text.c_str());
    return false;
}

void ReportException(JSContext* cx, const JS::ExceptionStack& exception)
{
    JS::ErrorReportBuilder builder(cx);
    const bool built = builder.init(cx, exception, JS::ErrorReportBuilder::WithSideEffects);
    // Building may run script code (a thrown object's toString); nothing it throws goes further.
    JS_ClearPendingException(cx);
    if (!built)
        return;
    Context* log = GetContext();
    if (!log)
        return;
    const JSErrorReport* report = builder.report();
    // "TypeError: message"; the report's bare message when the value gave no text.
    const char* message = builder.toStringResult().c_str();
    if ((!message || !message[0]) && report && report->message())
        message = report->message().c_str();
    log->LogError("%s", message ? message : "");
    if (report && report->filename && report->filename[0])
        log->LogError("File: %s Line: %u Column: %u", report->filename, report->lineno, report->column);
}

} // namespace Corvane3D::JSUtil
