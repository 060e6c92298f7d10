// The input/output library reduced to the console streams. stdout and stderr can only be written, stdin can
// only be read and reads nothing unless the host enabled it. There is no file class and nothing that opens,
// removes or renames files; the streams' class refuses to make new streams.

#include "SqBlob.h"
#include "Squirrel/SqStdLib.h"

#include <cstdio>
#include <memory>

namespace Squirrel {

bool ReadTypedValue(HSQUIRRELVM v, CSqBlobData* b, SQInteger type);
bool EncodeTypedValue(HSQUIRRELVM v, const SQObject& val, SQInteger type, std::vector<uint8_t>& out);

namespace {

enum class eStream { IN, OUT, ERR };

struct CSqConsoleStream {
    eStream which;
};

const char kStreamTypeTag = 0;

FILE* Writer(CSqConsoleStream* s) {
    if (s->which == eStream::ERR) {
        fflush(stdout); // what was printed before stays before
        return stderr;
    }
    return stdout;
}

SQInteger stream_constructor(HSQUIRRELVM v) {
    return sq_throwerror(v, "streams cannot be created by scripts");
}

#define STREAM_SELF(s)                                                                                                 \
    CSqConsoleStream* s = OwnedAt<CSqConsoleStream>(v, 1, kStreamTypeTag);                                             \
    if (!s)                                                                                                            \
        return sq_throwerror(v, "invalid stream");

SQInteger stream_writen(HSQUIRRELVM v) {
    STREAM_SELF(s);
    if (s->which == eStream::IN)
        return sq_throwerror(v, "the stream is not writable");
    std::vector<uint8_t> bytes;
    if (!EncodeTypedValue(v, Arg(v, 2), ToInteger(Arg(v, 3)), bytes))
        return SQ_ERROR;
    if (fwrite(bytes.data(), 1, bytes.size(), Writer(s)) != bytes.size())
        return sq_throwerror(v, "io error");
    return 0;
}

SQInteger stream_writeblob(HSQUIRRELVM v) {
    STREAM_SELF(s);
    if (s->which == eStream::IN)
        return sq_throwerror(v, "the stream is not writable");
    CSqBlobData* b = GetBlobData(v, 2);
    if (!b)
        return sq_throwerror(v, "blob expected");
    if (!b->bytes.empty() && fwrite(b->bytes.data(), 1, b->bytes.size(), Writer(s)) != b->bytes.size())
        return sq_throwerror(v, "io error");
    return 0;
}

SQInteger stream_flush(HSQUIRRELVM v) {
    STREAM_SELF(s);
    if (s->which != eStream::IN)
        fflush(Writer(s));
    return 0;
}

bool StdinReadable(HSQUIRRELVM v) { return v->_ss->_stdinEnabled; }

SQInteger stream_readblob(HSQUIRRELVM v) {
    STREAM_SELF(s);
    if (s->which != eStream::IN)
        return sq_throwerror(v, "the stream is not readable");
    SQInteger size = ToInteger(Arg(v, 2));
    if (size <= 0)
        return sq_throwerror(v, "invalid size");
    if (size > kMaxScriptAllocation)
        return sq_throwerror(v, "size too big");
    if (!StdinReadable(v))
        return sq_throwerror(v, "no data left to read");
    std::vector<uint8_t> data(static_cast<size_t>(size));
    size_t n = fread(data.data(), 1, data.size(), stdin);
    if (n == 0)
        return sq_throwerror(v, "no data left to read");
    data.resize(n);
    if (!PushNewBlob(v, std::move(data)))
        return SQ_ERROR;
    return 1;
}

SQInteger stream_readn(HSQUIRRELVM v) {
    STREAM_SELF(s);
    if (s->which != eStream::IN)
        return sq_throwerror(v, "the stream is not readable");
    SQInteger type = ToInteger(Arg(v, 2));
    size_t width;
    switch (type) {
    case 'c': case 'b': width = 1; break;
    case 's': case 'w': width = 2; break;
    case 'i': case 'f': width = 4; break;
    case 'l': case 'd': width = 8; break;
    default: return sq_throwerror(v, "invalid format");
    }
    if (!StdinReadable(v))
        return sq_throwerror(v, "io error");
    CSqBlobData tmp;
    tmp.bytes.resize(width);
    if (fread(tmp.bytes.data(), 1, width, stdin) != width)
        return sq_throwerror(v, "io error");
    return ReadTypedValue(v, &tmp, type) ? 1 : SQ_ERROR;
}

SQInteger stream_eos(HSQUIRRELVM v) {
    STREAM_SELF(s);
    if (s->which != eStream::IN)
        return sq_throwerror(v, "the stream is not readable");
    if (!StdinReadable(v)) {
        sq_pushbool(v, SQTrue);
        return 1;
    }
    int c = fgetc(stdin);
    if (c != EOF)
        ungetc(c, stdin);
    sq_pushbool(v, c == EOF);
    return 1;
}

const SQRegFunction kStreamMethods[] = {
    {"constructor", stream_constructor, -1, nullptr},
    {"writen", stream_writen, 3, "x.n"},
    {"writeblob", stream_writeblob, 2, "xx"},
    {"flush", stream_flush, 1, "x"},
    {"readblob", stream_readblob, 2, "xn"},
    {"readn", stream_readn, 2, "xn"},
    {"eos", stream_eos, 1, "x"},
    {nullptr, nullptr, 0, nullptr},
};

void AddStream(HSQUIRRELVM v, const char* name, eStream which) {
    // stack: target table, class
    sq_pushstring(v, name, -1);
    sq_createinstance(v, -2);
    auto s = std::make_unique<CSqConsoleStream>();
    s->which = which;
    AttachOwned(v, -1, std::move(s));
    sq_newslot(v, -4, SQFalse);
}

} // namespace

} // namespace Squirrel

using namespace Squirrel;

SQRESULT sqstd_register_iolib(HSQUIRRELVM v) {
    PushLibraryClass(v, kStreamTypeTag, kStreamMethods);
    AddStream(v, "stdout", eStream::OUT);
    AddStream(v, "stdin", eStream::IN);
    AddStream(v, "stderr", eStream::ERR);
    sq_pop(v, 1);
    return SQ_OK;
}

void sqstd_setstdinenabled(HSQUIRRELVM v, SQBool enabled) { v->_ss->_stdinEnabled = enabled != 0; }
