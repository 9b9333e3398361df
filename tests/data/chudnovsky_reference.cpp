// chudnovsky_reference N > file: "3.", the first N decimals of pi (truncated)
// and a newline, by the Chudnovsky series with GMP, for checking the
// program at sizes the stored reference does not reach, by a method that
// shares nothing with the program's formula:
//     1/pi = 12 sum_k (-1)^k (6k)! (13591409 + 545140134 k)
//                          / ((3k)! (k!)^3 640320^(3k + 3/2)),
// so pi = 426880 sqrt(10005) Q / T with P, Q, T summed by binary splitting.
#include <gmp.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr long GUARD_DIGITS = 30;
constexpr double DIGITS_PER_TERM = 14.181647462725477;  // log10(640320^3 / 1728)

struct Sums {
    mpz_t p, q, t;
    Sums() { mpz_inits(p, q, t, nullptr); }
    ~Sums() { mpz_clears(p, q, t, nullptr); }
};

void split(long a, long b, Sums& s)
{
    if (b - a == 1) {
        if (a == 0) {
            mpz_set_ui(s.p, 1);
            mpz_set_ui(s.q, 1);
        } else {
            mpz_set_ui(s.p, static_cast<unsigned long>(6 * a - 5));
            mpz_mul_ui(s.p, s.p, static_cast<unsigned long>(2 * a - 1));
            mpz_mul_ui(s.p, s.p, static_cast<unsigned long>(6 * a - 1));
            mpz_set_ui(s.q, static_cast<unsigned long>(a));
            mpz_pow_ui(s.q, s.q, 3);
            mpz_mul_ui(s.q, s.q, 10939058860032000UL);  // 640320^3 / 24
        }
        mpz_mul_ui(s.t, s.p, static_cast<unsigned long>(13591409 + 545140134L * a));
        if (a % 2 == 1)
            mpz_neg(s.t, s.t);
        return;
    }
    const long m = a + (b - a) / 2;
    Sums right;
    split(a, m, s);
    split(m, b, right);
    mpz_mul(s.t, s.t, right.q);
    mpz_addmul(s.t, s.p, right.t);
    mpz_mul(s.p, s.p, right.p);
    mpz_mul(s.q, s.q, right.q);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2 || std::atol(argv[1]) < 1) {
        std::fprintf(stderr, "usage: %s DECIMALS\n", argv[0]);
        return 2;
    }
    const long decimals = std::atol(argv[1]);
    const long digits = decimals + GUARD_DIGITS;
    Sums all;
    split(0, static_cast<long>(digits / DIGITS_PER_TERM) + 2, all);
    // pi 10^digits = 426880 sqrt(10005 10^(2 digits)) Q / T, each step a floor.
    mpz_t root, pi;
    mpz_inits(root, pi, nullptr);
    mpz_ui_pow_ui(root, 10, static_cast<unsigned long>(2 * digits));
    mpz_mul_ui(root, root, 10005);
    mpz_sqrt(root, root);
    mpz_mul(pi, root, all.q);
    mpz_mul_ui(pi, pi, 426880);
    mpz_tdiv_q(pi, pi, all.t);
    std::string text(static_cast<size_t>(digits) + 3, '\0');
    mpz_get_str(text.data(), 10, pi);
    text.resize(text.find('\0'));
    // A few units of error from the floors sit in the guard digits; a guard
    // of all 0s or all 9s would leave the last kept digit in doubt.
    const std::string guard = text.substr(1 + decimals, GUARD_DIGITS - 5);
    if (guard.find_first_not_of('0') == std::string::npos || guard.find_first_not_of('9') == std::string::npos) {
        std::fprintf(stderr, "guard digits %s leave the truncation in doubt\n", guard.c_str());
        return 1;
    }
    std::printf("3.%s\n", text.substr(1, static_cast<size_t>(decimals)).c_str());
    mpz_clears(root, pi, nullptr);
    return 0;
}
