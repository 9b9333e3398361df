// ntt_bench: times the transform multiplication against GMP's mpn_mul on
// balanced products from 10^3 to 10^7 limbs, on every CPU path this machine
// runs with one thread and on the best path with every core, in one run,
// and prints the ratios mpn_mul / transform measured side by side; every
// product is compared with GMP's. Memory is kept as the program keeps it in
// a run of this size (block_memory.hpp), for GMP's scratch as for the
// transforms'. The lines starting with "DATA" repeat the figures:
//   DATA <limbs> <gmp|path> <threads> <seconds>
//
//   ntt_bench [--limbs N,N,...]
#include "bench_support.hpp"
#include "block_memory.hpp"
#include "cpu_features.hpp"
#include "fork_join_pool.hpp"
#include "ntt/ntt_multiply.hpp"
#include "splitting/splitting.hpp"

#include <gmp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char** argv)
{
    const std::vector<size_t> counts = read_limb_counts(argc, argv, {1000, 10000, 100000, 1000000, 10000000});
    const unsigned hardware = std::thread::hardware_concurrency();
    const int32_t all_threads = hardware == 0 ? 1 : static_cast<int32_t>(hardware);
    install_big_integer_memory();
    keep_released_memory(KeptMemory::all);
    std::printf("CPU: %s\nhardware threads: %d\nbest path: %s\n", cpu_model().c_str(), all_threads,
                vector_isa_name(best_vector_isa()));
    std::printf("balanced products; times in seconds, median of %d when below %.0f s\n\n", REPEATS,
                REPEAT_BELOW_SECONDS);

    std::vector<Timing> timings;
    std::mt19937_64 random(1);
    bool agree = true;
    for (const size_t limbs : counts) {
        std::vector<uint64_t> a(limbs), b(limbs), expected(2 * limbs), product(2 * limbs);
        for (uint64_t& limb : a)
            limb = random();
        for (uint64_t& limb : b)
            limb = random();
        std::printf("%zu limbs\n", limbs);
        const double gmp_seconds = median_seconds([&] {
            mpn_mul(reinterpret_cast<mp_ptr>(expected.data()), reinterpret_cast<mp_srcptr>(a.data()),
                    static_cast<mp_size_t>(limbs), reinterpret_cast<mp_srcptr>(b.data()), static_cast<mp_size_t>(limbs));
        });
        std::printf("  %-20s %12.6f\n", "mpn_mul x1", gmp_seconds);
        timings.push_back({static_cast<int64_t>(limbs), "gmp", 1, gmp_seconds});
        auto time = [&](const NttKernel& kernel, int32_t threads) {
            ForkJoinPool pool(threads);
            NttOptions options = kernel.options;
            options.pool = threads > 1 ? &pool : nullptr;
            const double seconds = median_seconds([&] { ntt_multiply(a, b, product, options); });
            const bool same = product == expected;
            agree = agree && same;
            const std::string label = std::string(kernel.name) + " x" + std::to_string(threads);
            std::printf("  %-20s %12.6f   mpn_mul/transform %6.2f%s\n", label.c_str(), seconds, gmp_seconds / seconds,
                        same ? "" : "   PRODUCTS DIFFER");
            timings.push_back({static_cast<int64_t>(limbs), kernel.name, threads, seconds});
        };
        const std::vector<NttKernel> kernels = ntt_kernels_here();
        for (const NttKernel& kernel : kernels)
            if (kernel.options.isa != VectorIsa::portable || limbs <= 1000000)
                time(kernel, 1);
        if (all_threads > 1)
            time(kernels.back(), all_threads);
        std::printf("\n");
        std::fflush(stdout);
        if (!agree)
            return 1;
    }
    print_data_lines(timings);
    return 0;
}
