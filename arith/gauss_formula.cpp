// The weighted sum of the three arctangents, and its error bound.
#include "gauss_formula.hpp"

#include "arctan.hpp"
#include "limb.hpp"

#include <algorithm>
#include <cstdlib>
#include <thread>

namespace {

// Below this many limbs a second thread costs more to start than it saves
// (measured on two cores: 500 limbs 84 us alone, 93 us on two threads;
// 1000 limbs 237 us alone, 191 us on two).
constexpr int32_t THREADED_LIMB_COUNT = 1000;

constexpr int32_t FORMULA_XS[] = {TERM_TABLE[0].x, TERM_TABLE[1].x, TERM_TABLE[2].x};

// total <- total + coefficient * arc; arc is scaled in place. 12 * arctan(1/18)
// < 1, so limb 0 never carries out.
void add_weighted(int32_t limb_count, int32_t* total, int32_t* arc, int32_t coefficient)
{
    limb_mul_small(limb_count, arc, std::abs(coefficient));
    if (coefficient > 0)
        limb_add(limb_count, total, arc);
    else
        limb_sub(limb_count, total, arc);
}

}  // namespace

int32_t formula_threads(int32_t limb_count, int32_t cpus)
{
    if (limb_count < THREADED_LIMB_COUNT)
        return 1;
    return std::max<int32_t>(1, cpus);
}

void gauss_formula(int32_t limb_count, int32_t* total, int32_t* arc, int32_t* power, int32_t* quotient,
                   int32_t threads)
{
    EngineOptions options;
    const unsigned cores = std::thread::hardware_concurrency();
    options.threads = threads == ALL_CORES ? formula_threads(limb_count, static_cast<int32_t>(cores)) : threads;
    gauss_formula(limb_count, total, arc, power, quotient, options);
}

void gauss_formula(int32_t limb_count, int32_t* total, int32_t* arc, int32_t* power, int32_t* quotient,
                   const EngineOptions& options)
{
    // The three arctangents at once, one to each working array, then weighed
    // and summed in the table's order as before.
    int32_t* const arcs[] = {arc, power, quotient};
    arctan_series(FORMULA_XS, limb_count, arcs, options);
    for (int32_t i = 0; i < limb_count; ++i)
        total[i] = 0;
    for (size_t t = 0; t < std::size(TERM_TABLE); ++t)
        add_weighted(limb_count, total, arcs[t], TERM_TABLE[t].coefficient);
    limb_mul_small(limb_count, total, 4);
}

void gauss_formula_reference(int32_t limb_count, int32_t* total, int32_t* arc, int32_t* power, int32_t* quotient)
{
    for (int32_t i = 0; i < limb_count; ++i)
        total[i] = 0;
    for (const FormulaTerm& term : TERM_TABLE) {
        arctan_recip_reference(term.x, limb_count, arc, power, quotient);
        add_weighted(limb_count, total, arc, term.coefficient);
    }
    limb_mul_small(limb_count, total, 4);
}

int64_t gauss_formula_progress_total(int32_t limb_count)
{
    return arctan_series_progress_total(FORMULA_XS, limb_count);
}

int64_t gauss_formula_scratch_bytes(int32_t limb_count)
{
    return arctan_series_scratch_bytes(FORMULA_XS, limb_count, best_engine_path());
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
