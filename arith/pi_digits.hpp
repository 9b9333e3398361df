// Pi truncated to a given number of limbs, with every limb exact.
//
// The formula is summed over guard limbs beyond the ones wanted; the error
// bound then tells whether the wanted limbs are certain. When they are not
// (a run of 0s or 9s just past the cut), the guard is widened and the sum
// computed again.
#pragma once

#include "engine_choice.hpp"
#include "out_of_memory.hpp"
#include "unwritten_limbs.hpp"

#include <atomic>
#include <cstdint>
#include <optional>

inline constexpr int32_t INITIAL_GUARD_LIMBS = 4;

struct PiLimbs {
    UnwrittenLimbs limbs;  // the wanted limbs followed by the guard limbs
    int32_t guard_limbs;         // how many guard limbs the last sum used
};

struct PiOptions {
    // The CPUs the run may keep busy; the engine starts no more threads than
    // these, and fewer where the input offers less parallel work.
    int32_t cpus = 1;
    // If given, counts the work of the current attempt up to
    // pi_progress_total(limb_count), starting again from 0 when the guard widens.
    std::atomic<int64_t>* progress = nullptr;
    int32_t initial_guard_limbs = INITIAL_GUARD_LIMBS;
    // The engine to use; unset, choose_engine decides by size.
    std::optional<Engine> engine;
};

// Pi over limb_count limbs (limb 0 the integer part 3), each the truncated
// digit group of pi. Throws OutOfMemory (for the digit arrays, with the bytes
// of pi_bytes_needed) when an allocation fails.
PiLimbs compute_pi(int32_t limb_count, const PiOptions& options = {});

// The most bytes a compute_pi run holds at once (its first attempt), for
// comparing with what the process can have before anything is allocated.
int64_t pi_bytes_needed(int32_t limb_count, const PiOptions& options = {});

// The work a compute_pi run counts in progress (for its first attempt).
int64_t pi_progress_total(int32_t limb_count, const PiOptions& options = {});

// The engine a compute_pi run with these options uses.
Engine pi_engine(int32_t limb_count, const PiOptions& options = {});

// True when every value within error_bound units of the last limb of
// total (limb_count + guard_limbs limbs) has the same first limb_count limbs.
bool truncation_is_decided(int32_t limb_count, int32_t guard_limbs, const int32_t* total, int64_t error_bound);
