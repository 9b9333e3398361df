// Binary splitting holds thousands of numbers below a mebibyte (the middle
// nodes of its trees) beside a few large ones; its big integers get block
// memory, told how much of what they release to keep.
#include "process_memory.hpp"

#include "block_memory.hpp"
#include "splitting/splitting.hpp"

namespace {

// Below this many limbs released memory is kept whole. There the kept
// memory holds most of the numbers, and memory given back is faulted
// straight in again: at a million digits keeping it halves the page faults
// (3,000 against 6,700 on Linux) and saves 8% of the time, for 2 MB more at
// the peak. Larger runs keep little, since keeping all adds some 6 MB to
// their peak (81 against 75 MB at ten million digits).
constexpr int32_t WHOLE_HEAP_LIMB_COUNT = 500'000;

}  // namespace

void configure_process_memory(int32_t limb_count, const PiOptions& options)
{
    install_big_integer_memory();
    if (pi_engine(limb_count, options) == Engine::splitting)
        keep_released_memory(limb_count + options.initial_guard_limbs < WHOLE_HEAP_LIMB_COUNT ? KeptMemory::all
                                                                                               : KeptMemory::little);
}
