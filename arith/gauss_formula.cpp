// The weighted sum of the three arctangents, and its error bound.
#include "gauss_formula.hpp"

#include "arctan.hpp"
#include "limb.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

void set_zero(int32_t limb_count, int32_t* a)
{
    for (int32_t i = 0; i < limb_count; ++i)
        a[i] = 0;
}

}  // namespace

void add_weighted(int32_t limb_count, int32_t* total, int32_t* arc, int32_t coefficient)
{
    // 12 * arctan(1/18) < 1 and every partial sum lies in [0, 4), so limb 0
    // never carries out or stays negative.
    limb_mul_small(limb_count, arc, std::abs(coefficient));
    if (coefficient > 0)
        limb_add(limb_count, total, arc);
    else
        limb_sub(limb_count, total, arc);
}

void gauss_formula_reference(int32_t limb_count, int32_t* total, int32_t* arc, int32_t* power, int32_t* quotient)
{
    set_zero(limb_count, total);
    for (const FormulaTerm& term : TERM_TABLE) {
        arctan_recip_reference(term.x, limb_count, arc, power, quotient);
        add_weighted(limb_count, total, arc, term.coefficient);
    }
    limb_mul_small(limb_count, total, 4);
}

// Why the bound holds. Let u be the last limb's unit and M = 1/u = 10^T,
// T = 4(n - 1) for n limbs, and read every array as an integer in units of u.
// The series keeps P_k = floor(M / x^(2k+1)): nested truncating divisions
// compose, floor(floor(a / b) / c) = floor(a / (bc)). It adds the terms
// Q_k = floor(P_k / (2k+1)) = floor(t_k), t_k = M / (x^(2k+1) (2k+1)), with
// the signs (-1)^k, for k = 0 .. K-1, where K is the first k with P_k = 0,
// that is with x^(2k+1) > M (K = 0 when already M / x < 1; the later passes
// add zeros). So each term is short of its true value by e_k in [0, 1):
//   A - M arctan(1/x) = sum over k < K of (-1)^(k+1) e_k  -  tail,
// where tail = sum over k >= K of (-1)^k t_k, alternating with decreasing
// terms, so |tail| <= t_K < 1 / (2K+1). The e_k of the ceil(K/2) even terms
// pull A down, those of the floor(K/2) odd ones push it up, and the tail goes
// one way only, so
//   |A - M arctan(1/x)| < ceil(K/2) + t_K =: E_x.
// The weights 12, 8, -5 and the final 4 are exact multiplications and the
// additions exact, so |total - M pi| < 4 * (12 E_18 + 8 E_57 + 5 E_239).
// K_x is the number of k >= 0 with (2k+1) log10 x <= T, about T / (2 log10 x),
// so E_x is about T / (4 log10 x) and the bound grows like
// (12/log10 18 + 8/log10 57 + 5/log10 239) T = 16.22 T = 64.9 (n - 1),
// far inside 64 bits (and inside four guard limbs) for every 32-bit n. At
// n = 1 every K is 0, the sum is 0 and the bound is 4 (12/18 + 8/57 + 5/239)
// = 3.31 against a true error of pi = 3.14: the bound is as tight as its
// terms allow there.
namespace {

// E_x for one arctangent at T fraction digits. K counts the odd j = 2k+1 with
// j <= T / log10 x; where that quotient lies so close to an odd integer that
// the rounding of the logarithm could change the count, both counts are
// tried and the larger E taken. t_K is rounded up, but never above
// 1 / (2K+1), its bound whenever K is the true count.
double arctan_error_bound(int32_t x, int64_t digits)
{
    const double log10_x = std::log10(static_cast<double>(x));
    const double odd_limit = static_cast<double>(digits) / log10_x;
    const double slack = 1e-9 * std::max(1.0, odd_limit);
    const auto count_below = [](double limit) { return static_cast<int64_t>(std::floor((limit + 1) / 2)); };
    double largest = 0;
    for (int64_t k = std::max<int64_t>(0, count_below(odd_limit - slack)); k <= count_below(odd_limit + slack); ++k) {
        const double exponent = static_cast<double>(digits) - static_cast<double>(2 * k + 1) * log10_x;
        const double tail = std::min(1.0, std::pow(10.0, exponent) * (1 + 1e-4)) / static_cast<double>(2 * k + 1);
        largest = std::max(largest, static_cast<double>((k + 1) / 2) + tail);
    }
    return largest;
}

}  // namespace

int64_t gauss_formula_error_bound(int32_t limb_count)
{
    const int64_t digits = fraction_digits(std::max(limb_count, 1));
    double bound = 0;
    for (const FormulaTerm& term : TERM_TABLE)
        bound += 4.0 * std::abs(term.coefficient) * arctan_error_bound(term.x, digits);
    // The sum of a few doubles below 2^40 is off by far less than the 1e-9
    // relative taken on top.
    return static_cast<int64_t>(std::ceil(bound * (1 + 1e-9)));
}
