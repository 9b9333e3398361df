#include "exactness.hpp"

#include <string>

void throw_exactness_violation(const char* bound)
{
    throw ExactnessViolation(std::string("exactness bound violated: ") + bound);
}
