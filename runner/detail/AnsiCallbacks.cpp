#include "runner/detail/AnsiCallbacks.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace framemeld::runner::detail {

namespace {

int ansiSprintf(A_char *dst, const A_char *format, ...)
{
    // The SDK's sprintf has no size argument, so the destination's size is the caller's promise.
    va_list args;
    va_start(args, format);
    const int written = std::vsprintf(dst, format, args);
    va_end(args);
    return written;
}

A_char *ansiStrcpy(A_char *dst, const A_char *src)
{
    return std::strcpy(dst, src);
}

A_FpLong ansiAtan(A_FpLong x)
{
    return std::atan(x);
}
A_FpLong ansiAtan2(A_FpLong y, A_FpLong x)
{
    return std::atan2(y, x);
}
A_FpLong ansiCeil(A_FpLong x)
{
    return std::ceil(x);
}
A_FpLong ansiCos(A_FpLong x)
{
    return std::cos(x);
}
A_FpLong ansiExp(A_FpLong x)
{
    return std::exp(x);
}
A_FpLong ansiFabs(A_FpLong x)
{
    return std::fabs(x);
}
A_FpLong ansiFloor(A_FpLong x)
{
    return std::floor(x);
}
A_FpLong ansiFmod(A_FpLong x, A_FpLong y)
{
    return std::fmod(x, y);
}
A_FpLong ansiHypot(A_FpLong x, A_FpLong y)
{
    return std::hypot(x, y);
}
A_FpLong ansiLog(A_FpLong x)
{
    return std::log(x);
}
A_FpLong ansiLog10(A_FpLong x)
{
    return std::log10(x);
}
A_FpLong ansiPow(A_FpLong x, A_FpLong y)
{
    return std::pow(x, y);
}
A_FpLong ansiSin(A_FpLong x)
{
    return std::sin(x);
}
A_FpLong ansiSqrt(A_FpLong x)
{
    return std::sqrt(x);
}
A_FpLong ansiTan(A_FpLong x)
{
    return std::tan(x);
}
A_FpLong ansiAsin(A_FpLong x)
{
    return std::asin(x);
}
A_FpLong ansiAcos(A_FpLong x)
{
    return std::acos(x);
}

template <class Table> void fill(Table &t)
{
    t.atan = &ansiAtan;
    t.atan2 = &ansiAtan2;
    t.ceil = &ansiCeil;
    t.cos = &ansiCos;
    t.exp = &ansiExp;
    t.fabs = &ansiFabs;
    t.floor = &ansiFloor;
    t.fmod = &ansiFmod;
    t.hypot = &ansiHypot;
    t.log = &ansiLog;
    t.log10 = &ansiLog10;
    t.pow = &ansiPow;
    t.sin = &ansiSin;
    t.sqrt = &ansiSqrt;
    t.tan = &ansiTan;
    t.sprintf = &ansiSprintf;
    t.strcpy = &ansiStrcpy;
    t.asin = &ansiAsin;
    t.acos = &ansiAcos;
}

PF_ANSICallbacksSuite1 makeSuite()
{
    PF_ANSICallbacksSuite1 suite{};
    fill(suite);
    return suite;
}

} // namespace

void fillAnsiCallbacks(PF_ANSICallbacks &ansi)
{
    ansi = PF_ANSICallbacks{};
    fill(ansi);
}

const PF_ANSICallbacksSuite1 *ansiSuite()
{
    static const PF_ANSICallbacksSuite1 suite = makeSuite();
    return &suite;
}

} // namespace framemeld::runner::detail
