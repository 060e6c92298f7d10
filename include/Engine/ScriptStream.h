#pragma once
// The script object that hands a byte stream to scripts (class "Stream"). Closing it releases
// the stream; the object itself stays valid for scripts that still hold it.

#include "Engine/ObjectValue.h"
#include "Engine/Stream.h"

namespace Corvane3D {

class CScriptStream : public CObjectValue<Strong<Stream>> {
public:
    explicit CScriptStream(Stream* stream) : CObjectValue<Strong<Stream>>(Strong<Stream>(stream)) {}

    // Null once closed.
    Stream* GetStream() const { return Value().Get(); }
    bool IsClosed() const { return !Value(); }
    virtual void Close() { Value() = nullptr; }
};

} // namespace Corvane3D
