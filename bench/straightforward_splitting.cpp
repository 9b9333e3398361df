// For the terms [a, b): Q = prod (2k+1), X = y^(b-a), and
// T = sum (-1)^k (Q / (2k+1)) y^(b-1-k), so that their sum is T / (Q x^(2b-1));
// merging gives T = T1 Q2 X2 + T2 Q1, Q = Q1 Q2, X = X1 X2.
#include "straightforward_splitting.hpp"

#include "gauss_formula.hpp"
#include "limb.hpp"

#include <gmp.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

struct Range {
    mpz_t t, q, x;
    Range() { mpz_inits(t, q, x, nullptr); }
    ~Range() { mpz_clears(t, q, x, nullptr); }
};

void split(unsigned long y, int64_t begin, int64_t end, Range& range)
{
    if (end - begin == 1) {
        mpz_set_si(range.t, begin % 2 == 0 ? 1 : -1);
        mpz_set_ui(range.q, static_cast<unsigned long>(2 * begin + 1));
        mpz_set_ui(range.x, y);
        return;
    }
    const int64_t middle = begin + (end - begin) / 2;
    Range right;
    split(y, begin, middle, range);
    split(y, middle, end, right);
    mpz_mul(range.t, range.t, right.q);
    mpz_mul(range.t, range.t, right.x);
    mpz_addmul(range.t, right.t, range.q);
    mpz_mul(range.q, range.q, right.q);
    mpz_mul(range.x, range.x, right.x);
}

// floor(10^exponent arctan(1/x)), give or take 1.
void scaled_arctan(int32_t x, int64_t exponent, mpz_t result)
{
    const double half_terms = double(exponent) * std::log(10.0) / (2.0 * std::log(double(x)));
    const int64_t terms = static_cast<int64_t>(std::ceil(half_terms)) + 2;
    Range all;
    split(static_cast<unsigned long>(x) * static_cast<unsigned long>(x), 0, terms, all);
    mpz_t scale;
    mpz_init(scale);
    mpz_ui_pow_ui(scale, 10, static_cast<unsigned long>(exponent));
    mpz_mul(all.t, all.t, scale);
    mpz_ui_pow_ui(scale, static_cast<unsigned long>(x), static_cast<unsigned long>(2 * terms - 1));
    mpz_mul(all.q, all.q, scale);
    mpz_tdiv_q(result, all.t, all.q);
    mpz_clear(scale);
}

}  // namespace

void straightforward_splitting(int32_t limb_count, int32_t* total)
{
    const int64_t exponent = fraction_digits(limb_count);
    mpz_t arcs[3];
    for (mpz_t& arc : arcs)
        mpz_init(arc);
    std::thread largest([&] { scaled_arctan(TERM_TABLE[0].x, exponent, arcs[0]); });
    scaled_arctan(TERM_TABLE[1].x, exponent, arcs[1]);
    scaled_arctan(TERM_TABLE[2].x, exponent, arcs[2]);
    largest.join();

    mpz_t pi;
    mpz_init(pi);
    for (int i = 0; i < 3; ++i) {
        const int32_t coefficient = 4 * TERM_TABLE[i].coefficient;
        if (coefficient > 0)
            mpz_addmul_ui(pi, arcs[i], static_cast<unsigned long>(coefficient));
        else
            mpz_submul_ui(pi, arcs[i], static_cast<unsigned long>(-coefficient));
        mpz_clear(arcs[i]);
    }
    std::string digits(size_t(limb_count) * LIMB_DIGITS + 2, '\0');
    mpz_get_str(digits.data(), 10, pi);
    digits.resize(digits.find('\0'));
    digits.insert(0, size_t(limb_count) * LIMB_DIGITS - digits.size(), '0');
    for (int32_t limb = 0; limb < limb_count; ++limb)
        total[limb] = std::atoi(digits.substr(size_t(limb) * LIMB_DIGITS, LIMB_DIGITS).c_str());
    mpz_clear(pi);
}
