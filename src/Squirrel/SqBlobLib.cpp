// The blob library: a resizable byte buffer with a read/write position, and a few bit-cast helpers.

#include "SqBlob.h"
#include "Squirrel/SqStdLib.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace Squirrel {

const char kBlobTypeTag = 0;

namespace {

constexpr const char* kBlobClassKey = "std_blob";

CSqBlobData* Self(HSQUIRRELVM v) { return GetBlobData(v, 1); }

#define BLOB_SELF(b)                                                                                                   \
    CSqBlobData* b = Self(v);                                                                                          \
    if (!b)                                                                                                            \
        return sq_throwerror(v, "invalid blob");

SQInteger blob_constructor(HSQUIRRELVM v) {
    SQInteger size = 0;
    if (ArgCount(v) > 1)
        size = ToInteger(Arg(v, 2));
    if (size < 0)
        return sq_throwerror(v, "cannot create blob with negative size");
    if (size > kMaxScriptAllocation)
        return sq_throwerror(v, "cannot create blob: size too big");
    if (AlreadyOwning(v))
        return sq_throwerror(v, "blob already initialised");
    auto data = std::make_unique<CSqBlobData>();
    data->bytes.resize(static_cast<size_t>(size));
    AttachOwned(v, 1, std::move(data));
    return 0;
}

SQInteger blob_len(HSQUIRRELVM v) {
    BLOB_SELF(b);
    sq_pushinteger(v, static_cast<SQInteger>(b->bytes.size()));
    return 1;
}

SQInteger blob_tell(HSQUIRRELVM v) {
    BLOB_SELF(b);
    sq_pushinteger(v, b->pos);
    return 1;
}

SQInteger blob_eos(HSQUIRRELVM v) {
    BLOB_SELF(b);
    sq_pushbool(v, b->pos >= static_cast<SQInteger>(b->bytes.size()));
    return 1;
}

SQInteger blob_flush(HSQUIRRELVM v) {
    BLOB_SELF(b);
    (void)b;
    return 0;
}

SQInteger blob_seek(HSQUIRRELVM v) {
    BLOB_SELF(b);
    SQInteger offset = ToInteger(Arg(v, 2));
    SQInteger origin = 'b';
    if (ArgCount(v) > 2)
        origin = ToInteger(Arg(v, 3));
    SQInteger size = static_cast<SQInteger>(b->bytes.size());
    SQInteger target;
    switch (origin) {
    case 'b': target = offset; break;
    case 'c': target = b->pos + offset; break;
    case 'e': target = size + offset; break;
    default: return sq_throwerror(v, "invalid origin");
    }
    if (target < 0 || target > size)
        return sq_throwerror(v, "seek failed");
    b->pos = target;
    return 0;
}

SQInteger blob_resize(HSQUIRRELVM v) {
    BLOB_SELF(b);
    SQInteger size = ToInteger(Arg(v, 2));
    if (size < 0)
        return sq_throwerror(v, "negative size");
    if (size > kMaxScriptAllocation)
        return sq_throwerror(v, "size too big");
    b->bytes.resize(static_cast<size_t>(size));
    if (b->pos > size)
        b->pos = size;
    return 0;
}

SQInteger blob_swap(HSQUIRRELVM v, size_t width) {
    BLOB_SELF(b);
    for (size_t i = 0; i + width <= b->bytes.size(); i += width)
        std::reverse(b->bytes.begin() + static_cast<ptrdiff_t>(i), b->bytes.begin() + static_cast<ptrdiff_t>(i + width));
    return 0;
}
SQInteger blob_swap2(HSQUIRRELVM v) { return blob_swap(v, 2); }
SQInteger blob_swap4(HSQUIRRELVM v) { return blob_swap(v, 4); }

bool WriteBytes(CSqBlobData* b, const void* p, size_t n) {
    size_t pos = static_cast<size_t>(b->pos);
    if (pos + n > static_cast<size_t>(kMaxScriptAllocation))
        return false;
    if (pos + n > b->bytes.size())
        b->bytes.resize(pos + n);
    std::memcpy(b->bytes.data() + pos, p, n);
    b->pos = static_cast<SQInteger>(pos + n);
    return true;
}

SQInteger blob_writeblob(HSQUIRRELVM v) {
    BLOB_SELF(b);
    CSqBlobData* src = GetBlobData(v, 2);
    if (!src)
        return sq_throwerror(v, "blob expected");
    std::vector<uint8_t> copy = src->bytes; // src may be this blob
    if (!copy.empty() && !WriteBytes(b, copy.data(), copy.size()))
        return sq_throwerror(v, "blob too big");
    return 0;
}

SQInteger blob_readblob(HSQUIRRELVM v) {
    BLOB_SELF(b);
    SQInteger size = ToInteger(Arg(v, 2));
    if (size <= 0)
        return sq_throwerror(v, "invalid size");
    SQInteger avail = static_cast<SQInteger>(b->bytes.size()) - b->pos;
    if (avail <= 0)
        return sq_throwerror(v, "no data left to read");
    SQInteger n = std::min(size, avail);
    std::vector<uint8_t> data(b->bytes.begin() + b->pos, b->bytes.begin() + b->pos + n);
    b->pos += n;
    if (!PushNewBlob(v, std::move(data)))
        return SQ_ERROR;
    return 1;
}

template <typename T>
bool ReadValue(CSqBlobData* b, T& out) {
    if (b->pos < 0 || static_cast<size_t>(b->pos) + sizeof(T) > b->bytes.size())
        return false;
    std::memcpy(&out, b->bytes.data() + b->pos, sizeof(T));
    b->pos += static_cast<SQInteger>(sizeof(T));
    return true;
}

} // namespace

// Shared by blobs and streams: one value of the given type ('c','b','s','w','i','l','f','d').
bool ReadTypedValue(HSQUIRRELVM v, CSqBlobData* b, SQInteger type) {
    bool ok = false;
    switch (type) {
    case 'c': { int8_t x; if ((ok = ReadValue(b, x))) sq_pushinteger(v, x); break; }
    case 'b': { uint8_t x; if ((ok = ReadValue(b, x))) sq_pushinteger(v, x); break; }
    case 's': { int16_t x; if ((ok = ReadValue(b, x))) sq_pushinteger(v, x); break; }
    case 'w': { uint16_t x; if ((ok = ReadValue(b, x))) sq_pushinteger(v, x); break; }
    case 'i': { int32_t x; if ((ok = ReadValue(b, x))) sq_pushinteger(v, x); break; }
    case 'l': { int64_t x; if ((ok = ReadValue(b, x))) sq_pushinteger(v, x); break; }
    case 'f': { float x; if ((ok = ReadValue(b, x))) sq_pushfloat(v, x); break; }
    case 'd': { double x; if ((ok = ReadValue(b, x))) sq_pushfloat(v, DoubleToFloat(x)); break; }
    default: sq_throwerror(v, "invalid format"); return false;
    }
    if (!ok)
        sq_throwerror(v, "io error");
    return ok;
}

// Encodes one value of the given type into `out`; false with an error raised on a bad type.
bool EncodeTypedValue(HSQUIRRELVM v, const SQObject& val, SQInteger type, std::vector<uint8_t>& out) {
    if (!IsNumeric(val)) {
        sq_throwerror(v, "number expected");
        return false;
    }
    auto put = [&](const auto& x) {
        const uint8_t* p = reinterpret_cast<const uint8_t*>(&x);
        out.assign(p, p + sizeof(x));
    };
    SQInteger i = ToInteger(val);
    switch (type) {
    case 'c': put(static_cast<int8_t>(i)); break;
    case 'b': put(static_cast<uint8_t>(i)); break;
    case 's': put(static_cast<int16_t>(i)); break;
    case 'w': put(static_cast<uint16_t>(i)); break;
    case 'i': put(static_cast<int32_t>(i)); break;
    case 'l': put(static_cast<int64_t>(i)); break;
    case 'f': put(static_cast<float>(ToFloat(val))); break;
    case 'd': put(static_cast<double>(ToFloat(val))); break;
    default: sq_throwerror(v, "invalid format"); return false;
    }
    return true;
}

namespace {

SQInteger blob_readn(HSQUIRRELVM v) {
    BLOB_SELF(b);
    return ReadTypedValue(v, b, ToInteger(Arg(v, 2))) ? 1 : SQ_ERROR;
}

SQInteger blob_writen(HSQUIRRELVM v) {
    BLOB_SELF(b);
    std::vector<uint8_t> bytes;
    if (!EncodeTypedValue(v, Arg(v, 2), ToInteger(Arg(v, 3)), bytes))
        return SQ_ERROR;
    if (!WriteBytes(b, bytes.data(), bytes.size()))
        return sq_throwerror(v, "blob too big");
    return 0;
}

// Runs `use` on the byte the key of _get or _set names.
template <typename F>
SQInteger OnIndexedByte(HSQUIRRELVM v, F use) {
    BLOB_SELF(b);
    const SQObjectPtr& key = Arg(v, 2);
    if (key._type != OT_INTEGER) {
        sq_pushnull(v);
        return sq_throwobject(v); // not a byte index: let the lookup go on
    }
    SQInteger idx = AsInt(key);
    if (idx < 0 || idx >= static_cast<SQInteger>(b->bytes.size()))
        return sq_throwerror(v, "index out of range");
    return use(b->bytes[static_cast<size_t>(idx)]);
}

SQInteger blob__get(HSQUIRRELVM v) {
    return OnIndexedByte(v, [&](uint8_t& byte) -> SQInteger {
        sq_pushinteger(v, byte);
        return 1;
    });
}

SQInteger blob__set(HSQUIRRELVM v) {
    return OnIndexedByte(v, [&](uint8_t& byte) -> SQInteger {
        if (!IsNumeric(Arg(v, 3)))
            return sq_throwerror(v, "number expected");
        byte = static_cast<uint8_t>(ToInteger(Arg(v, 3)));
        return 0;
    });
}

SQInteger blob__typeof(HSQUIRRELVM v) {
    sq_pushstring(v, "blob", -1);
    return 1;
}

SQInteger blob__nexti(HSQUIRRELVM v) {
    BLOB_SELF(b);
    const SQObjectPtr& prev = Arg(v, 2);
    SQInteger next = prev._type == OT_NULL ? 0 : prev._type == OT_INTEGER ? AsInt(prev) + 1 : -1;
    if (next < 0)
        return sq_throwerror(v, "internal error (_nexti) wrong argument type");
    if (next >= static_cast<SQInteger>(b->bytes.size()))
        return 0;
    sq_pushinteger(v, next);
    return 1;
}

SQInteger blob__cloned(HSQUIRRELVM v) {
    CSqBlobData* original = GetBlobData(v, 2);
    if (!original)
        return sq_throwerror(v, "invalid blob");
    auto data = std::make_unique<CSqBlobData>(*original);
    AttachOwned(v, 1, std::move(data));
    return 0;
}

SQInteger blob__tostring(HSQUIRRELVM v) {
    BLOB_SELF(b);
    char buf[64];
    snprintf(buf, sizeof(buf), "(blob : %lld bytes)", static_cast<long long>(b->bytes.size()));
    sq_pushstring(v, buf, -1);
    return 1;
}

const SQRegFunction kBlobMethods[] = {
    {"constructor", blob_constructor, -1, "xn"},
    {"resize", blob_resize, 2, "xn"},
    {"swap2", blob_swap2, 1, "x"},
    {"swap4", blob_swap4, 1, "x"},
    {"len", blob_len, 1, "x"},
    {"tell", blob_tell, 1, "x"},
    {"eos", blob_eos, 1, "x"},
    {"flush", blob_flush, 1, "x"},
    {"seek", blob_seek, -2, "xnn"},
    {"readblob", blob_readblob, 2, "xn"},
    {"writeblob", blob_writeblob, 2, "xx"},
    {"readn", blob_readn, 2, "xn"},
    {"writen", blob_writen, 3, "x.n"},
    {"_get", blob__get, 2, "x."},
    {"_set", blob__set, 3, "x.."},
    {"_typeof", blob__typeof, 1, "x"},
    {"_nexti", blob__nexti, 2, "x."},
    {"_cloned", blob__cloned, 2, "xx"},
    {"_tostring", blob__tostring, 1, "x"},
    {nullptr, nullptr, 0, nullptr},
};

SQInteger blob_casti2f(HSQUIRRELVM v) {
    int32_t i = static_cast<int32_t>(ToInteger(Arg(v, 2)));
    float f;
    std::memcpy(&f, &i, sizeof(f));
    sq_pushfloat(v, f);
    return 1;
}

SQInteger blob_castf2i(HSQUIRRELVM v) {
    float f = ToFloat(Arg(v, 2));
    int32_t i;
    std::memcpy(&i, &f, sizeof(i));
    sq_pushinteger(v, i);
    return 1;
}

SQInteger blob_swap2f(HSQUIRRELVM v) {
    uint16_t x = static_cast<uint16_t>(ToInteger(Arg(v, 2)));
    sq_pushinteger(v, static_cast<SQInteger>(static_cast<uint16_t>((x >> 8) | (x << 8))));
    return 1;
}

SQInteger blob_swap4f(HSQUIRRELVM v) {
    uint32_t x = static_cast<uint32_t>(ToInteger(Arg(v, 2)));
    sq_pushinteger(v, static_cast<SQInteger>(__builtin_bswap32(x)));
    return 1;
}

SQInteger blob_swapfloat(HSQUIRRELVM v) {
    float f = ToFloat(Arg(v, 2));
    uint32_t x;
    std::memcpy(&x, &f, sizeof(x));
    x = __builtin_bswap32(x);
    std::memcpy(&f, &x, sizeof(f));
    sq_pushfloat(v, f);
    return 1;
}

const SQRegFunction kBlobFuncs[] = {
    {"casti2f", blob_casti2f, 2, ".n"},
    {"castf2i", blob_castf2i, 2, ".n"},
    {"swap2", blob_swap2f, 2, ".n"},
    {"swap4", blob_swap4f, 2, ".n"},
    {"swapfloat", blob_swapfloat, 2, ".n"},
    {nullptr, nullptr, 0, nullptr},
};

} // namespace

CSqBlobData* GetBlobData(HSQUIRRELVM v, SQInteger idx) {
    SQUserPointer p = nullptr;
    if (sq_gettype(v, idx) != OT_INSTANCE)
        return nullptr;
    if (SQ_FAILED(sq_getinstanceup(v, idx, &p, const_cast<char*>(&kBlobTypeTag)))) {
        sq_reseterror(v);
        return nullptr;
    }
    return static_cast<CSqBlobData*>(p);
}

bool PushNewBlob(HSQUIRRELVM v, std::vector<uint8_t> data) {
    sq_pushregistrytable(v);
    sq_pushstring(v, kBlobClassKey, -1);
    if (SQ_FAILED(sq_rawget(v, -2)) || sq_gettype(v, -1) != OT_CLASS) {
        sq_pop(v, 1);
        sq_throwerror(v, "the blob library is not registered");
        return false;
    }
    sq_createinstance(v, -1);
    auto blob = std::make_unique<CSqBlobData>();
    blob->bytes = std::move(data);
    AttachOwned(v, -1, std::move(blob));
    sq_remove(v, -2); // class
    sq_remove(v, -2); // registry
    return true;
}

} // namespace Squirrel

using namespace Squirrel;

SQRESULT sqstd_register_bloblib(HSQUIRRELVM v) {
    sq_pushstring(v, "blob", -1);
    PushLibraryClass(v, kBlobTypeTag, kBlobMethods);
    // the registry keeps the class so that natives can make blobs even when scripts drop the global
    sq_pushregistrytable(v);
    sq_pushstring(v, "std_blob", -1);
    sq_push(v, -3);
    sq_newslot(v, -3, SQFalse);
    sq_pop(v, 1);
    sq_newslot(v, -3, SQFalse);
    RegisterNatives(v, kBlobFuncs);
    return SQ_OK;
}

SQUserPointer sqstd_createblob(HSQUIRRELVM v, SQInteger size) {
    if (size < 0 || size > kMaxScriptAllocation)
        return nullptr;
    if (!PushNewBlob(v, std::vector<uint8_t>(static_cast<size_t>(size))))
        return nullptr;
    CSqBlobData* b = GetBlobData(v, -1);
    if (!b)
        return nullptr;
    b->bytes.reserve(1); // an empty blob still hands out a valid address
    return b->bytes.data();
}

SQRESULT sqstd_getblob(HSQUIRRELVM v, SQInteger idx, SQUserPointer* ptr) {
    CSqBlobData* b = GetBlobData(v, idx);
    if (!b)
        return sq_throwerror(v, "not a blob");
    *ptr = b->bytes.data();
    return SQ_OK;
}

SQInteger sqstd_getblobsize(HSQUIRRELVM v, SQInteger idx) {
    CSqBlobData* b = GetBlobData(v, idx);
    if (!b)
        return sq_throwerror(v, "not a blob");
    return static_cast<SQInteger>(b->bytes.size());
}
