// division_bench: times the quotient floor(N / D) of 2n by n limbs by
// Newton's iteration on the transform multiplication (one thread and every
// core) against GMP's division (mpz_tdiv_q), in one run, and prints the
// ratios GMP / Newton measured side by side; every quotient is compared
// with GMP's. The lines starting with "DATA" repeat the figures:
//   DATA <limbs> <gmp|newton> <threads> <seconds>
//
//   division_bench [--limbs N,N,...]
#include "bench_support.hpp"
#include "block_memory.hpp"
#include "fork_join_pool.hpp"
#include "splitting/big_integer.hpp"
#include "splitting/newton_division.hpp"
#include "splitting/splitting.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char** argv)
{
    const std::vector<size_t> counts = read_limb_counts(argc, argv, {1000, 2000, 4000, 8000, 16000, 100000, 1000000});
    const unsigned hardware = std::thread::hardware_concurrency();
    const int32_t all_threads = hardware == 0 ? 1 : static_cast<int32_t>(hardware);
    install_big_integer_memory();
    keep_released_memory(KeptMemory::all);
    std::printf("CPU: %s\nhardware threads: %d\ntransforms from %zu limbs\n", cpu_model().c_str(), all_threads,
                transform_product_limbs());
    std::printf("quotients of 2n by n limbs; times in seconds, median of %d when below %.0f s\n\n", REPEATS,
                REPEAT_BELOW_SECONDS);

    std::vector<Timing> timings;
    gmp_randstate_t random;
    gmp_randinit_mt(random);
    gmp_randseed_ui(random, 1);
    bool agree = true;
    for (const size_t limbs : counts) {
        BigInteger numerator, divisor, expected, quotient;
        mpz_urandomb(numerator, random, static_cast<mp_bitcnt_t>(128 * limbs));
        mpz_urandomb(divisor, random, static_cast<mp_bitcnt_t>(64 * limbs));
        mpz_setbit(divisor, static_cast<mp_bitcnt_t>(64 * limbs - 1));
        std::printf("%zu limbs\n", limbs);
        const double gmp_seconds = median_seconds([&] { mpz_tdiv_q(expected, numerator, divisor); });
        std::printf("  %-20s %10.4f\n", "mpz_tdiv_q x1", gmp_seconds);
        timings.push_back({static_cast<int64_t>(limbs), "gmp", 1, gmp_seconds});
        for (const int32_t threads : {1, all_threads}) {
            ForkJoinPool pool(threads);
            // The quotient takes its numerator over: the copy, one pass over
            // 2n limbs, is timed with it.
            const double seconds = median_seconds([&] {
                BigInteger copy;
                mpz_set(copy, numerator);
                newton_quotient(quotient, std::move(copy), 0, divisor, threads > 1 ? &pool : nullptr);
            });
            const bool same = mpz_cmp(quotient, expected) == 0;
            agree = agree && same;
            const std::string label = "newton x" + std::to_string(threads);
            std::printf("  %-20s %10.4f   gmp/newton %6.2f%s\n", label.c_str(), seconds, gmp_seconds / seconds,
                        same ? "" : "   QUOTIENTS DIFFER");
            timings.push_back({static_cast<int64_t>(limbs), "newton", threads, seconds});
            if (all_threads == 1)
                break;
        }
        std::printf("\n");
        std::fflush(stdout);
        if (!agree)
            break;
    }
    gmp_randclear(random);
    print_data_lines(timings);
    return agree ? 0 : 1;
}
