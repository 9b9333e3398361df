// Guard limbs and the decision whether they settle the wanted limbs.
#include "pi_digits.hpp"

#include "gauss_formula.hpp"
#include "limb.hpp"

#include <new>
#include <string>

OutOfMemory::OutOfMemory(int64_t bytes)
    : std::runtime_error("cannot allocate " + std::to_string(bytes) + " bytes (" +
                         std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB) for the digit arrays"),
      bytes_needed(bytes)
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

int64_t pi_progress_total(int32_t limb_count)
{
    return gauss_formula_progress_total(limb_count + INITIAL_GUARD_LIMBS);
}

PiLimbs compute_pi(int32_t limb_count, int32_t initial_guard_limbs, std::atomic<int64_t>* progress)
{
    for (int32_t guard = initial_guard_limbs;; guard *= 2) {
        const int32_t working_count = limb_count + guard;
        // The four limb arrays and the engine's digit arrays: a failure of
        // either is reported with the bytes of both.
        const int64_t bytes_needed =
            4 * int64_t{working_count} * int64_t{sizeof(int32_t)} + gauss_formula_scratch_bytes(working_count);
        std::vector<int32_t> total, arc, power, quotient;
        try {
            total.resize(working_count);
            arc.resize(working_count);
            power.resize(working_count);
            quotient.resize(working_count);
            EngineOptions options;
            options.threads = formula_threads(working_count);
            options.progress = progress;
            if (progress != nullptr)
                progress->store(0, std::memory_order_relaxed);
            gauss_formula(working_count, total.data(), arc.data(), power.data(), quotient.data(), options);
        } catch (const std::bad_alloc&) {
            throw OutOfMemory(bytes_needed);
        }
        if (truncation_is_decided(limb_count, guard, total.data(), gauss_formula_error_bound(working_count)))
            return {std::move(total), guard};
    }
}
