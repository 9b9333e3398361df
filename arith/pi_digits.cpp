// Guard limbs and the decision whether they settle the wanted limbs.
#include "pi_digits.hpp"

#include "gauss_formula.hpp"
#include "limb.hpp"
#include "splitting/splitting.hpp"

#include <algorithm>
#include <new>
#include <string>

namespace {

std::string mebibytes(int64_t bytes)
{
    return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB";
}

std::string out_of_memory_message(int64_t needed, int64_t available)
{
    std::string message =
        "cannot allocate " + std::to_string(needed) + " bytes (" + mebibytes(needed) + ") for the digit arrays";
    if (available >= 0)
        message += ": " + std::to_string(available) + " bytes (" + mebibytes(available) + ") available";
    return message;
}

// The arrays of one attempt: total and the engine's working memory.
int64_t attempt_bytes(int32_t working_count, Engine engine)
{
    const int64_t total_bytes = int64_t{working_count} * int64_t{sizeof(int32_t)};
    if (engine == Engine::splitting)
        return total_bytes + splitting_bytes_needed(working_count);
    // The series engine weighs each arctangent in from a second array.
    return 2 * total_bytes + gauss_formula_scratch_bytes(working_count);
}

}  // namespace

OutOfMemory::OutOfMemory(int64_t needed, int64_t available)
    : std::runtime_error(out_of_memory_message(needed, available)), bytes_needed(needed), bytes_available(available)
{
}

bool truncation_is_decided(int32_t limb_count, int32_t guard_limbs, const int32_t* total, int64_t error_bound)
{
    // Lay the guard limbs out as a number below 1 (a zero integer limb in
    // front), then look whether subtracting or adding the bound crosses into
    // the integer limb: a borrow or a carry there would change a wanted limb.
    const int32_t width = guard_limbs + 1;
    std::vector<int32_t> low(width, 0), high(width, 0), bound(width, 0);
    for (int32_t i = 1; i < width; ++i)
        low[i] = high[i] = total[limb_count + i - 1];
    int64_t rest = error_bound;
    for (int32_t i = width - 1; i >= 1; --i) {
        bound[i] = static_cast<int32_t>(rest % LIMB_BASE);
        rest /= LIMB_BASE;
    }
    if (rest != 0)
        return false;  // the bound is wider than the whole guard
    limb_sub(width, low.data(), bound.data());
    limb_add(width, high.data(), bound.data());
    return low[0] == 0 && high[0] == 0;
}

Engine pi_engine(int32_t limb_count, const PiOptions& options)
{
    return options.engine.value_or(choose_engine(limb_count + options.initial_guard_limbs));
}

int64_t pi_progress_total(int32_t limb_count, const PiOptions& options)
{
    const int32_t working_count = limb_count + options.initial_guard_limbs;
    if (pi_engine(limb_count, options) == Engine::splitting)
        return splitting_progress_total(working_count);
    return gauss_formula_progress_total(working_count);
}

int64_t pi_bytes_needed(int32_t limb_count, const PiOptions& options)
{
    return attempt_bytes(limb_count + options.initial_guard_limbs, pi_engine(limb_count, options));
}

PiLimbs compute_pi(int32_t limb_count, const PiOptions& pi_options)
{
    std::atomic<int64_t>* const progress = pi_options.progress;
    const Engine engine = pi_engine(limb_count, pi_options);
    for (int32_t guard = pi_options.initial_guard_limbs;; guard *= 2) {
        const int32_t working_count = limb_count + guard;
        // A failure of any allocation is reported with the bytes of all.
        const int64_t bytes_needed = attempt_bytes(working_count, engine);
        UnwrittenLimbs total;
        int64_t error_bound = 0;
        if (progress != nullptr)
            progress->store(0, std::memory_order_relaxed);
        try {
            total.resize(working_count);
            if (engine == Engine::splitting) {
                SplittingOptions options;
                options.threads = splitting_threads(working_count, pi_options.cpus);
                options.progress = progress;
                gauss_formula_splitting(working_count, total.data(), options);
                error_bound = splitting_error_bound();
            } else {
                std::vector<int32_t> arc(working_count);
                EngineOptions options;
                options.threads = formula_threads(working_count, pi_options.cpus);
                options.progress = progress;
                gauss_formula(working_count, total.data(), arc.data(), options);
                error_bound = gauss_formula_error_bound(working_count);
            }
        } catch (const std::bad_alloc&) {
            throw OutOfMemory(bytes_needed);
        }
        if (truncation_is_decided(limb_count, guard, total.data(), error_bound))
            return {std::move(total), guard};
    }
}
