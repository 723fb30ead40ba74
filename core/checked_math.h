// Floating-point operations that test their result after every step: a zero
// divisor is a division by zero (or an overflow for 0 / 0), an infinite result
// an overflow, and a domain fault (a negative base to a fractional power, the
// logarithm of a non-positive number) an invalid call.
#pragma once

#include "core/errors.h"

#include <cmath>

namespace temra::checked {

inline double Finite(double v, const FieldRef& field, const char* what) {
    if (std::isnan(v)) throw TemraError(ErrorNumber::InvalidCall, field, what);
    if (std::isinf(v)) throw TemraError(ErrorNumber::Overflow, field, what);
    return v;
}

inline double Div(double a, double b, const FieldRef& field, const char* what) {
    if (b == 0) {
        throw TemraError(a == 0 || std::isnan(a) ? ErrorNumber::Overflow
                                                 : ErrorNumber::DivisionByZero,
                         field, what);
    }
    return Finite(a / b, field, what);
}

inline double Pow(double base, double exponent, const FieldRef& field, const char* what) {
    if (base < 0 && std::trunc(exponent) != exponent)
        throw TemraError(ErrorNumber::InvalidCall, field, what);
    if (base == 0 && exponent < 0) throw TemraError(ErrorNumber::DivisionByZero, field, what);
    return Finite(std::pow(base, exponent), field, what);
}

inline double Exp(double x, const FieldRef& field, const char* what) {
    return Finite(std::exp(x), field, what);
}

inline double Log10(double x, const FieldRef& field, const char* what) {
    if (!(x > 0)) throw TemraError(ErrorNumber::InvalidCall, field, what);
    return Finite(std::log10(x), field, what);
}

} // namespace temra::checked
