// The mathematics and system libraries.

#include "SqLibUtil.h"
#include "Squirrel/SqStdLib.h"

#include <cmath>
#include <cstdlib>
#include <ctime>

namespace Squirrel {

namespace {

constexpr SQInteger kRandMax = 2147483647;

SQFloat Num(HSQUIRRELVM v, SQInteger i) { return ToFloat(Arg(v, i)); }

SQInteger PushFloat(HSQUIRRELVM v, double d) {
    sq_pushfloat(v, DoubleToFloat(d));
    return 1;
}

#define MATH_UNARY(name, expr)                                                                                         \
    SQInteger math_##name(HSQUIRRELVM v) {                                                                             \
        double x = Num(v, 2);                                                                                          \
        return PushFloat(v, expr);                                                                                     \
    }

MATH_UNARY(sqrt, std::sqrt(x))
MATH_UNARY(sin, std::sin(x))
MATH_UNARY(cos, std::cos(x))
MATH_UNARY(asin, std::asin(x))
MATH_UNARY(acos, std::acos(x))
MATH_UNARY(log, std::log(x))
MATH_UNARY(log10, std::log10(x))
MATH_UNARY(tan, std::tan(x))
MATH_UNARY(atan, std::atan(x))
MATH_UNARY(floor, std::floor(x))
MATH_UNARY(ceil, std::ceil(x))
MATH_UNARY(exp, std::exp(x))
MATH_UNARY(fabs, std::fabs(x))

SQInteger math_atan2(HSQUIRRELVM v) { return PushFloat(v, std::atan2(Num(v, 2), Num(v, 3))); }
SQInteger math_pow(HSQUIRRELVM v) { return PushFloat(v, std::pow(Num(v, 2), Num(v, 3))); }

SQInteger math_abs(HSQUIRRELVM v) {
    SQInteger i = ToInteger(Arg(v, 2));
    // the magnitude of the smallest integer does not fit: it stays as it is instead of trapping
    sq_pushinteger(v, i < 0 ? static_cast<SQInteger>(0 - static_cast<uint64_t>(i)) : i);
    return 1;
}

// One generator per shared state, so that scripts of one state never disturb another's sequence.
uint64_t NextRandom(CSqSharedState* ss) {
    uint64_t x = ss->_randState;
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    ss->_randState = x;
    return x;
}

SQInteger math_srand(HSQUIRRELVM v) {
    uint64_t seed = static_cast<uint64_t>(ToInteger(Arg(v, 2)));
    v->_ss->_randState = MixHash(seed) | 1;
    return 0;
}

SQInteger math_rand(HSQUIRRELVM v) {
    sq_pushinteger(v, static_cast<SQInteger>(NextRandom(v->_ss) % (static_cast<uint64_t>(kRandMax) + 1)));
    return 1;
}

const SQRegFunction kMathFuncs[] = {
    {"sqrt", math_sqrt, 2, ".n"},
    {"sin", math_sin, 2, ".n"},
    {"cos", math_cos, 2, ".n"},
    {"asin", math_asin, 2, ".n"},
    {"acos", math_acos, 2, ".n"},
    {"log", math_log, 2, ".n"},
    {"log10", math_log10, 2, ".n"},
    {"tan", math_tan, 2, ".n"},
    {"atan", math_atan, 2, ".n"},
    {"atan2", math_atan2, 3, ".nn"},
    {"pow", math_pow, 3, ".nn"},
    {"floor", math_floor, 2, ".n"},
    {"ceil", math_ceil, 2, ".n"},
    {"exp", math_exp, 2, ".n"},
    {"srand", math_srand, 2, ".n"},
    {"rand", math_rand, 1, nullptr},
    {"fabs", math_fabs, 2, ".n"},
    {"abs", math_abs, 2, ".n"},
    {nullptr, nullptr, 0, nullptr},
};

SQInteger system_clock(HSQUIRRELVM v) {
    sq_pushfloat(v, static_cast<SQFloat>(static_cast<double>(clock()) / CLOCKS_PER_SEC));
    return 1;
}

SQInteger system_time(HSQUIRRELVM v) {
    sq_pushinteger(v, static_cast<SQInteger>(time(nullptr)));
    return 1;
}

SQInteger system_date(HSQUIRRELVM v) {
    time_t t = ArgCount(v) > 1 ? static_cast<time_t>(ToInteger(Arg(v, 2))) : time(nullptr);
    SQInteger format = 'l';
    if (ArgCount(v) > 2)
        format = ToInteger(Arg(v, 3));
    struct tm parts;
    struct tm* ok = format == 'u' ? gmtime_r(&t, &parts) : localtime_r(&t, &parts);
    if (!ok)
        return sq_throwerror(v, "crt api failure");
    sq_newtable(v);
    auto field = [&](const char* name, SQInteger value) { SetSlot(v, name, SQObjectPtr::Integer(value)); };
    field("sec", parts.tm_sec);
    field("min", parts.tm_min);
    field("hour", parts.tm_hour);
    field("day", parts.tm_mday);
    field("month", parts.tm_mon);
    field("year", parts.tm_year + 1900);
    field("wday", parts.tm_wday);
    field("yday", parts.tm_yday);
    return 1;
}

SQInteger system_getenv(HSQUIRRELVM v) {
    const char* value = std::getenv(StrOf(Arg(v, 2)));
    if (!value)
        return 0;
    sq_pushstring(v, value, -1);
    return 1;
}

const SQRegFunction kSystemFuncs[] = {
    {"clock", system_clock, 1, nullptr},
    {"time", system_time, 1, nullptr},
    {"date", system_date, -1, ".nn"},
    {"getenv", system_getenv, 2, ".s"},
    {nullptr, nullptr, 0, nullptr},
};

} // namespace

} // namespace Squirrel

using namespace Squirrel;

SQRESULT sqstd_register_mathlib(HSQUIRRELVM v) {
    RegisterNatives(v, kMathFuncs);
    SetSlot(v, "RAND_MAX", SQObjectPtr::Integer(kRandMax));
    SetSlot(v, "PI", SQObjectPtr::Float(static_cast<SQFloat>(3.14159265358979323846)));
    return SQ_OK;
}

SQRESULT sqstd_register_systemlib(HSQUIRRELVM v) {
    RegisterNatives(v, kSystemFuncs);
    return SQ_OK;
}
