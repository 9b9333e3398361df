// The weighted sum of the three arctangents, and its error bound.
#include "gauss_formula.hpp"

#include "arctan.hpp"
#include "limb.hpp"

#include <cstdlib>

void gauss_formula(int32_t limb_count, int32_t* total, int32_t* arc, int32_t* power, int32_t* quotient)
{
    for (int32_t i = 0; i < limb_count; ++i)
        total[i] = 0;
    for (const FormulaTerm& term : TERM_TABLE) {
        arctan_recip(term.x, limb_count, arc, power, quotient);
        // 12 * arctan(1/18) < 1, so limb 0 never carries out.
        limb_mul_small(limb_count, arc, std::abs(term.coefficient));
        if (term.coefficient > 0)
            limb_add(limb_count, total, arc);
        else
            limb_sub(limb_count, total, arc);
    }
    limb_mul_small(limb_count, total, 4);
}

// Why the bound holds. Let u be the last limb's unit, M = 1/u, and read every
// array as an integer in units of u. The series keeps P_k = floor(M / x^(2k+1))
// (nested truncating divisions compose into one) and adds the terms
// Q_k = floor(P_k / (2k+1)) with alternating signs. Against the true term
// M / (x^(2k+1) (2k+1)), Q_0 = P_0 is short by less than 1 and every later
// Q_k by less than 1 + 1/(2k+1) < 2. The loop stops at the first K with
// P_K = 0, where the true M / x^(2K+1) < 1; the alternating tail from there
// on is smaller than its first term, below 1. So one arctangent is off by
// less than 1 + 2(K - 1) + 1 = 2K units, and K <= 2(n-1)/log10(x) + 1 for n
// limbs, since x^(2K-1) <= M = 10^(4(n-1)). The weights 12, 8, 5 and the
// final 4 are exact multiplications and the additions are exact, so
//   |total - pi| < 4 * sum over the terms of |c| * 2 * (2(n-1)/log10(x) + 1)
//               = 16 * (12/log10 18 + 8/log10 57 + 5/log10 239) * (n-1) + 200
//               < 16 * 16.22 * (n-1) + 200 < 260 n + 200 units.
// 300 n + 200 leaves a margin and stays far inside 64 bits for every 32-bit n.
int64_t gauss_formula_error_bound(int32_t limb_count)
{
    return 300 * int64_t{limb_count} + 200;
}
