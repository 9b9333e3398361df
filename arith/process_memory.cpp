// Binary splitting holds thousands of numbers below a mebibyte (the middle
// nodes of its trees) beside a few large ones, which block_memory.hpp maps
// for themselves. Only glibc's heap is tuned; elsewhere the settings are the
// system's.
#include "process_memory.hpp"

#include "block_memory.hpp"
#include "splitting/splitting.hpp"

#ifdef __GLIBC__
#include <malloc.h>

#include <climits>
#endif

namespace {

#ifdef __GLIBC__
// Below this many limbs the heap keeps all it frees. There the heap holds
// most of the numbers, and a top given back is faulted straight in again:
// at a million digits keeping it halves the page faults (3,000 against
// 6,700) and saves 8% of the time, for 2 MB more at the peak. Larger runs
// give back all but HEAP_TOP_KEPT_BYTES, since a heap kept whole adds some
// 6 MB to their peak (81 against 75 MB at ten million digits).
constexpr int32_t WHOLE_HEAP_LIMB_COUNT = 500'000;
constexpr size_t HEAP_TOP_KEPT_BYTES = size_t{2} << 20;

// By default glibc maps blocks above 128 KiB until it sees one freed, then
// adapts, keeping more of the heap's top the larger the blocks it has seen
// (fewer faults, a peak 10 MB higher at ten million digits); with a fixed
// threshold alone it trims the top whenever 128 KiB of it is free, only to
// fault it back in soon after (half again as many faults, 1.4 s slower).
// The heap serves the blocks below LARGE_BLOCK_BYTES, and keeps a top of
// HEAP_TOP_KEPT_BYTES.
void tune_heap(int32_t limb_count)
{
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(LARGE_BLOCK_BYTES));
    mallopt(M_TRIM_THRESHOLD,
            limb_count < WHOLE_HEAP_LIMB_COUNT ? INT_MAX : static_cast<int>(HEAP_TOP_KEPT_BYTES));
}
#else
void tune_heap(int32_t) {}
#endif

}  // namespace

void configure_process_memory(int32_t limb_count, const PiOptions& options)
{
    install_big_integer_memory();
    if (pi_engine(limb_count, options) == Engine::splitting)
        tune_heap(limb_count + options.initial_guard_limbs);
}
