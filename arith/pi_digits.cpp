// Guard limbs and the decision whether they settle the wanted limbs.
#include "pi_digits.hpp"

#include "limb.hpp"

#include <new>
#include <vector>

namespace {

// total and the engine's working memory, for one attempt.
int64_t attempt_bytes(int32_t working_count, Engine engine)
{
    return int64_t{working_count} * int64_t{sizeof(int32_t)} + engine_bytes_needed(engine, working_count);
}

}  // namespace

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
    return engine_progress_total(pi_engine(limb_count, options), limb_count + options.initial_guard_limbs);
}

int64_t pi_bytes_needed(int32_t limb_count, const PiOptions& options)
{
    return attempt_bytes(limb_count + options.initial_guard_limbs, pi_engine(limb_count, options));
}

PiLimbs compute_pi(int32_t limb_count, const PiOptions& options)
{
    const Engine engine = pi_engine(limb_count, options);
    EngineRun run;
    run.cpus = options.cpus;
    run.progress = options.progress;
    for (int32_t guard = options.initial_guard_limbs;; guard *= 2) {
        const int32_t working_count = limb_count + guard;
        UnwrittenLimbs total;
        int64_t error_bound = 0;
        if (options.progress != nullptr)
            options.progress->store(0, std::memory_order_relaxed);
        try {
            total.resize(working_count);
            error_bound = run_engine(engine, working_count, total.data(), run);
        } catch (const std::bad_alloc&) {
            // Reported with the bytes of the whole attempt, whichever
            // allocation failed.
            throw OutOfMemory(MemoryUse::digit_arrays, attempt_bytes(working_count, engine));
        }
        if (truncation_is_decided(limb_count, guard, total.data(), error_bound))
            return {std::move(total), guard};
    }
}
