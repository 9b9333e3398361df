// A Machin-type formula pi = 4 * sum c_i arctan(1/x_i), held as its terms
// (x_i, c_i): the shape of every formula an engine sums.
#pragma once

#include <cstdint>

struct FormulaTerm {
    int32_t x;            // arctan(1/x)
    int32_t coefficient;  // its weight in the formula
};
