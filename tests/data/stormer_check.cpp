// stormer_check [--guard-limbs G] FILE: a second formula's word on the
// decimals of a result file. FILE's n decimals are those of n / 4 + 1 limbs;
// pi is computed over G more (3 unless told) by Størmer's formula
//     pi = 4 (44 arctan(1/57) + 7 arctan(1/239) - 12 arctan(1/682)
//             + 24 arctan(1/12943))
// on the splitting engine, on every CPU, and compared with FILE decimal by
// decimal. The engine's limbs lie within splitting_error_bound units of the
// last one, so they give pi's truncated limbs only where that error cannot
// reach them: where it can (the guard limbs at a run of 9s or 0s), the tool
// says so and computes again with twice the guard, as the program does.
// FILE is read twice, in chunks: once for its layout and its count of
// decimals, once for the comparison.
//
// Exit status: 0 when the decimals agree, 1 when they differ or FILE is not
// a result file, 2 for a wrong command line.
#include "exactness.hpp"
#include "limb.hpp"
#include "out_of_memory.hpp"
#include "pi_digits.hpp"
#include "process_memory.hpp"
#include "result_file_reader.hpp"
#include "splitting/splitting.hpp"
#include "stormer_formula.hpp"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int32_t DEFAULT_GUARD_LIMBS = 3;
// The decimals compared at a time: a multiple of a limb's 4.
constexpr size_t COMPARED_DECIMALS = size_t{1} << 20;

struct Settings {
    std::string path;
    int32_t guard_limbs = DEFAULT_GUARD_LIMBS;
};

[[noreturn]] void exit_with_usage(const char* program)
{
    std::fprintf(stderr, "usage: %s [--guard-limbs G] FILE\n", program);
    std::exit(2);
}

Settings read_settings(int argc, char** argv)
{
    Settings settings;
    int next = 1;
    if (argc == 4 && std::strcmp(argv[1], "--guard-limbs") == 0) {
        char* end = nullptr;
        const long guard = std::strtol(argv[2], &end, 10);
        if (*end != '\0' || guard < 1 || guard > 1000)
            exit_with_usage(argv[0]);
        settings.guard_limbs = static_cast<int32_t>(guard);
        next = 3;
    }
    if (argc != next + 1)
        exit_with_usage(argv[0]);
    settings.path = argv[next];
    return settings;
}

// GMP cannot be told of refused memory; the run ends here instead, with
// nothing allocated on the way out.
[[noreturn]] void exit_for_refused_big_integers(MemoryUse, int64_t bytes_requested)
{
    char message[160];
    std::snprintf(message, sizeof message, "stormer_check: cannot allocate %" PRId64 " bytes for the big integers\n",
                  bytes_requested);
    std::fputs(message, stderr);
    std::_Exit(1);
}

// Pi by Størmer's formula over limb_count limbs and guard_limbs more, the
// guard widened until the error bound cannot reach the first limb_count:
// then every value within the bound, pi among them, has those limbs, and
// they are pi's truncated limbs.
UnwrittenLimbs stormer_limbs(int32_t limb_count, int32_t guard_limbs)
{
    const unsigned hardware = std::thread::hardware_concurrency();
    const int32_t cpus = hardware == 0 ? 1 : static_cast<int32_t>(hardware);
    for (int64_t guard_count = guard_limbs;; guard_count *= 2) {
        // The engine counts limbs in 32 bits.
        require_bound(limb_count + guard_count <= INT32_MAX, "guard limbs within a 32-bit limb count");
        const auto guard = static_cast<int32_t>(guard_count);
        const int32_t working_count = limb_count + guard;
        PiOptions memory_options;
        memory_options.engine = Engine::splitting;
        memory_options.initial_guard_limbs = guard;
        configure_process_memory(limb_count, memory_options);
        SplittingOptions options;
        options.threads = splitting_threads(working_count, cpus);
        UnwrittenLimbs limbs(static_cast<size_t>(working_count));
        machin_formula_splitting(STORMER_TERM_TABLE, working_count, limbs.data(), options);
        if (truncation_is_decided(limb_count, guard, limbs.data(), splitting_error_bound(STORMER_TERM_TABLE)))
            return limbs;
        const int64_t cut = fraction_digits(limb_count);
        std::fprintf(stderr,
                     "stormer_check: decimals %" PRId64 " to %" PRId64
                     " of the formula's pi lie so near a run of 9s or 0s that its error bound leaves the decimals "
                     "up to %" PRId64 " in doubt; again with %" PRId64 " guard limbs instead of %d\n",
                     cut + 1, cut + int64_t{LIMB_DIGITS} * guard, cut, 2 * guard_count, guard);
    }
}

// The first decimal (counted from 1) where the file's decimal_count
// decimals differ from those of the limbs, and the two digits there; 0 where
// they agree.
struct Difference {
    int64_t decimal = 0;
    char in_file = 0;
    char in_formula = 0;
};

Difference first_difference(const std::string& path, int64_t decimal_count, const int32_t* limbs)
{
    ResultFileReader reader(path);
    std::vector<char> found(COMPARED_DECIMALS), expected(COMPARED_DECIMALS);
    for (int64_t compared = 0; compared < decimal_count;) {
        const size_t count = static_cast<size_t>(std::min<int64_t>(decimal_count - compared, COMPARED_DECIMALS));
        if (reader.read_decimals(found.data(), count) != count)
            throw ResultFileError(path + " lost decimals while it was checked");
        // compared is a multiple of 4: the decimals from limb compared / 4 + 1 on.
        const int32_t* limb = limbs + 1 + compared / LIMB_DIGITS;
        for (size_t index = 0; index < count; index += LIMB_DIGITS, ++limb) {
            // The engine's limbs are normalised, each four decimals.
            require_bound(*limb >= 0 && *limb < LIMB_BASE, "limb within 0 .. 9999");
            int32_t value = *limb;
            for (int32_t digit = LIMB_DIGITS - 1; digit >= 0; --digit, value /= 10)
                expected[index + size_t(digit)] = static_cast<char>('0' + value % 10);
        }
        if (std::memcmp(found.data(), expected.data(), count) != 0) {
            const size_t at = static_cast<size_t>(
                std::mismatch(found.begin(), found.begin() + std::ptrdiff_t(count), expected.begin()).first -
                found.begin());
            return {compared + int64_t(at) + 1, found[at], expected[at]};
        }
        compared += int64_t(count);
    }
    char extra;
    if (reader.read_decimals(&extra, 1) != 0)
        throw ResultFileError(path + " gained decimals while it was checked");
    return {};
}

int check(const Settings& settings)
{
    set_refused_memory_exit(exit_for_refused_big_integers);
    const int64_t decimal_count = count_result_file_decimals(settings.path);
    // The program writes at most INT32_MAX decimals, in whole limbs.
    if (decimal_count > INT32_MAX)
        throw ResultFileError(settings.path + " holds " + std::to_string(decimal_count) +
                              " decimals, more than the program writes (" + std::to_string(INT32_MAX) + ")");
    if (decimal_count % LIMB_DIGITS != 0)
        throw ResultFileError(settings.path + " holds " + std::to_string(decimal_count) +
                              " decimals, not a whole number of 4-decimal limbs as the program writes");
    const int32_t limb_count = limb_count_for(static_cast<int32_t>(decimal_count));

    const auto start = std::chrono::steady_clock::now();
    const UnwrittenLimbs limbs = stormer_limbs(limb_count, settings.guard_limbs);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    if (limbs[0] != 3)
        throw std::runtime_error("Størmer's formula gives an integer part of " + std::to_string(limbs[0]));
    const Difference difference = first_difference(settings.path, decimal_count, limbs.data());
    if (difference.decimal != 0) {
        std::printf("stormer_check: %s differs from Størmer's formula at decimal %" PRId64
                    " (%c where the formula has %c)\n",
                    settings.path.c_str(), difference.decimal, difference.in_file, difference.in_formula);
        return 1;
    }
    std::printf("stormer_check: %" PRId64 " decimals of %s agree with Størmer's formula (computed in %.1f s)\n",
                decimal_count, settings.path.c_str(), seconds);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const Settings settings = read_settings(argc, argv);
    try {
        return check(settings);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "stormer_check: %s\n", error.what());
        return 1;
    }
}
