// Checked floating-point steps shared by the fast and the reference warp: each reports the
// fault a floating-point unit that traps division by zero, overflow and invalid operations
// would raise, instead of letting an infinity or NaN travel on. Engine-internal.
#pragma once

#include "platform/MorphError.h"

#include <cmath>
#include <cstdint>
#include <string>

namespace morph::warp {

// Arithmetic faults are carried as codes inside the pixel loops (exceptions cannot leave an
// OpenMP region) and turned into MorphError once the first one in column order is known.
enum class Fault : std::uint8_t { None, Invalid, DivideByZero, Overflow };

inline const char* FaultText(Fault fault) {
    switch (fault) {
    case Fault::Invalid:
        return kInvalidOperation;
    case Fault::DivideByZero:
        return kFloatDivideByZero;
    case Fault::Overflow:
        return kFloatOverflow;
    case Fault::None:
        break;
    }
    return "";
}

// a / b with the faults of a floating-point unit that traps them.
inline Fault Divide(double a, double b, double& result) {
    if (b == 0) {
        return a == 0 ? Fault::Invalid : Fault::DivideByZero;
    }
    result = a / b;
    return std::isinf(result) ? Fault::Overflow : Fault::None;
}

inline Fault Multiply(double a, double b, double& result) {
    result = a * b;
    return std::isinf(result) ? Fault::Overflow : Fault::None;
}

inline Fault Add(double a, double b, double& result) {
    result = a + b;
    return std::isinf(result) ? Fault::Overflow : Fault::None;
}

// Square-and-multiply from the lowest bit, the reciprocal taken last for a negative power.
inline Fault IntegerPower(double base, std::int64_t exponent, double& result) {
    std::uint64_t n = static_cast<std::uint64_t>(exponent < 0 ? -exponent : exponent);
    double r = 1.0;
    double x = base;
    while (n != 0) {
        const bool bit = (n & 1) != 0;
        n >>= 1;
        if (bit) {
            if (Fault f = Multiply(r, x, r); f != Fault::None) {
                return f;
            }
        }
        if (n != 0) {
            if (Fault f = Multiply(x, x, x); f != Fault::None) {
                return f;
            }
        }
    }
    if (exponent < 0) {
        return Divide(1.0, r, result);
    }
    result = r;
    return Fault::None;
}

inline Fault CheckedPower(double base, double exponent, double& result) {
    if (exponent == 0) {
        result = 1.0;
        return Fault::None;
    }
    if (base == 0 && exponent > 0) {
        result = 0.0;
        return Fault::None;
    }
    if (exponent == std::trunc(exponent) && std::fabs(exponent) <= 2147483647.0) {
        return IntegerPower(base, static_cast<std::int64_t>(exponent), result);
    }
    if (base < 0) {
        return Fault::Invalid; // logarithm of a negative number
    }
    if (base == 0) {
        return Fault::DivideByZero; // logarithm of zero
    }
    result = std::exp(exponent * std::log(base));
    return std::isinf(result) ? Fault::Overflow : Fault::None;
}

// Round to nearest, ties to even, for every double: below 2^52 adding and taking away 2^52
// rounds in the default rounding mode; from 2^52 on every double is whole. The same result
// as std::nearbyint, without a library call on processors that lack a rounding instruction.
inline double RoundEven(double value) {
    constexpr double kTwo52 = 4503599627370496.0;
    const double magnitude = std::fabs(value);
    if (!(magnitude < kTwo52)) {
        return value;
    }
    return std::copysign((magnitude + kTwo52) - kTwo52, value);
}

// Round to a whole number the way a 64-bit integer conversion would: out of range is invalid.
inline Fault RoundChecked(double value, double& result) {
    result = RoundEven(value);
    if (!(std::fabs(result) < 9223372036854775808.0)) {
        return Fault::Invalid;
    }
    return Fault::None;
}

// The progress points come at x mod step = 0: a step of 0 divides by zero.
inline void CheckRefreshStep(int step) {
    if (step == 0) {
        throw MorphError(kIntDivideByZero);
    }
    if (step < 0) {
        throw MorphError("The refresh rate must be a whole number of at least 1, not " +
                         std::to_string(step));
    }
}

// The same steps raising the fault at once, for code outside the parallel loops that works
// pixel by pixel (the reference warp, the line influence view).
namespace raising {

inline void Check(Fault f) {
    if (f != Fault::None) {
        throw MorphError(FaultText(f));
    }
}

inline double Div(double a, double b) {
    double r = 0;
    Check(Divide(a, b, r));
    return r;
}

inline double Sum(double a, double b) {
    double r = 0;
    Check(Add(a, b, r));
    return r;
}

inline double Product(double a, double b) {
    double r = 0;
    Check(Multiply(a, b, r));
    return r;
}

inline double Pow(double base, double exponent) {
    double r = 0;
    Check(CheckedPower(base, exponent, r));
    return r;
}

// Round half to even with the library's rounding, not the fast path's, so that the two
// only agree when both are right; out of the 64-bit range is an invalid conversion.
inline std::int64_t Round(double value) {
    const double r = std::nearbyint(value);
    if (!(std::fabs(r) < 9223372036854775808.0)) {
        throw MorphError(kInvalidOperation);
    }
    return static_cast<std::int64_t>(r);
}

} // namespace raising

} // namespace morph::warp
