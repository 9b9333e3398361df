// The bounds that exact arithmetic rests on, checked where they are set up, in
// every build type: a violated bound ends the computation with its name, never
// with a wrong digit.
#pragma once

#include <stdexcept>

class ExactnessViolation : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

[[noreturn]] void throw_exactness_violation(const char* bound);

// Throws ExactnessViolation naming the bound unless it holds.
inline void require_bound(bool holds, const char* bound)
{
    if (!holds)
        throw_exactness_violation(bound);
}
