// Størmer's formula pi = 4 * (44 arctan(1/57) + 7 arctan(1/239)
// - 12 arctan(1/682) + 24 arctan(1/12943)): a second formula for checking
// digits made by Gauss's. The series for 57 and 239 are Gauss's too, with
// other weights, so an error in one of them does not cancel between the two.
#pragma once

#include "machin_formula.hpp"

inline constexpr FormulaTerm STORMER_TERM_TABLE[] = {{57, 44}, {239, 7}, {682, -12}, {12943, 24}};
