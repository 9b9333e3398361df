// Small blocks from the C heap; large blocks as anonymous mappings, each
// starting on a huge page boundary so that every two mebibytes of a block can
// be one huge page and one fault. Only glibc's heap is told what to keep;
// elsewhere the C heap keeps what it decides.
#include "block_sources.hpp"

#include "block_memory.hpp"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

#ifdef __GLIBC__
#include <malloc.h>

#include <climits>
#endif

namespace {

constexpr size_t HUGE_PAGE_BYTES = size_t{2} << 20;
constexpr size_t SMALL_PAGE_BYTES = size_t{4} << 10;

// A tail of small pages costs a fault for every 4 KiB of it, and with blocks
// of a few mebibytes (ten million digits) such tails would make most of a
// run's faults and of its system time. A tail that fills half a huge page or
// more is mapped as a whole huge page instead, holding less than a mebibyte
// for nothing; a shorter one stays in small pages, where rounding it up
// would raise the peak more than it saves in faults (ten million digits:
// 51,000 faults and a 72 MB median peak this way, 47,000 and 76 MB with
// every tail a huge page).
// SMALL_PAGE_BYTES only rounds the request; the kernel maps whole pages of
// its own size whatever it is.
size_t round_up(size_t bytes, size_t unit) { return (bytes + unit - 1) / unit * unit; }

size_t whole_pages(size_t bytes)
{
    const size_t huge = round_up(bytes, HUGE_PAGE_BYTES);
    return huge - bytes <= HUGE_PAGE_BYTES / 2 ? huge : round_up(bytes, SMALL_PAGE_BYTES);
}

void ask_for_huge_pages([[maybe_unused]] void* block, [[maybe_unused]] size_t mapped_bytes)
{
#ifdef MADV_HUGEPAGE
    // Only advice: where huge pages are off or used up, small pages serve.
    madvise(block, mapped_bytes, MADV_HUGEPAGE);
#endif
}

}  // namespace

void keep_released_memory([[maybe_unused]] KeptMemory kept)
{
#ifdef __GLIBC__
    // By default glibc maps blocks above 128 KiB until it sees one freed,
    // then adapts, keeping more of the heap's top the larger the blocks it
    // has seen (fewer faults, a peak 10 MB higher at ten million digits);
    // with a fixed threshold alone it trims the top whenever 128 KiB of it
    // is free, only to fault it back in soon after (half again as many
    // faults, 1.4 s slower). The heap serves the blocks below
    // LARGE_BLOCK_BYTES and keeps either all it frees or a top of
    // HEAP_TOP_KEPT_BYTES.
    constexpr size_t HEAP_TOP_KEPT_BYTES = size_t{2} << 20;
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(LARGE_BLOCK_BYTES));
    mallopt(M_TRIM_THRESHOLD, kept == KeptMemory::all ? INT_MAX : static_cast<int>(HEAP_TOP_KEPT_BYTES));
#endif
}

void* allocate_small_block(size_t bytes) { return std::malloc(bytes); }

void* reallocate_small_block(void* block, size_t, size_t new_bytes) { return std::realloc(block, new_bytes); }

void release_small_block(void* block, size_t) { std::free(block); }

void* map_large_block(size_t bytes)
{
    const size_t mapped_bytes = whole_pages(bytes);
    // Reserve a huge page more than needed, then give back the ends that lie
    // outside the aligned block.
    const size_t reserved_bytes = mapped_bytes + HUGE_PAGE_BYTES;
    void* reserved = mmap(nullptr, reserved_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (reserved == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(reserved);
    const uintptr_t aligned = (start + HUGE_PAGE_BYTES - 1) & ~(uintptr_t{HUGE_PAGE_BYTES} - 1);
    const size_t head_bytes = aligned - start;
    const size_t tail_bytes = reserved_bytes - head_bytes - mapped_bytes;
    if (head_bytes > 0)
        munmap(reserved, head_bytes);
    if (tail_bytes > 0)
        munmap(reinterpret_cast<void*>(aligned + mapped_bytes), tail_bytes);
    void* block = reinterpret_cast<void*>(aligned);
    ask_for_huge_pages(block, mapped_bytes);
    return block;
}

void* remap_large_block(void* block, size_t old_bytes, size_t new_bytes)
{
    const size_t old_mapped = whole_pages(old_bytes);
    const size_t new_mapped = whole_pages(new_bytes);
    if (new_mapped == old_mapped)
        return block;
#ifdef MREMAP_MAYMOVE
    // The kernel moves the pages themselves; nothing is copied.
    void* moved = mremap(block, old_mapped, new_mapped, MREMAP_MAYMOVE);
    return moved == MAP_FAILED ? nullptr : moved;
#else
    return move_block(block, old_bytes, new_bytes);
#endif
}

void unmap_large_block(void* block, size_t bytes) { munmap(block, whole_pages(bytes)); }
