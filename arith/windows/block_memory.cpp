// Small blocks from free lists of size classes, kept by this process; large
// blocks from VirtualAlloc, in large pages where the process may lock them.
//
// The system heap takes a lock and a long path for every block, and under
// Wine the cost of the hundreds of thousands of small blocks of a run (a
// million digits: 1.1 million allocations and reallocations, most below a
// kibibyte) is a third of its time. Here a released block goes onto a list
// of its class and the next request of that class takes it back; only a
// class with nothing on its lists asks the heap. Each thread keeps a few
// small blocks of each class on lists of its own, without a lock; the rest
// are on lists shared by all threads, each with a lock of its own, held for
// a few instructions.
//
// Large blocks are kept for reuse too: a fresh page costs a fault (Windows
// has no transparent huge pages) and is zeroed by the system, a reused one
// is ready. What is kept, of either kind, is bounded (keep_limit), beyond
// which released blocks go back to the heap or the system.
#include "block_sources.hpp"

#include "block_memory.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>
#include <windows.h>

namespace {

// Eight classes to a doubling, from 64 bytes to LARGE_BLOCK_BYTES: a block
// holds at most an eighth more than was asked for.
constexpr size_t SMALLEST_CLASS_BYTES = 64;
constexpr int SMALLEST_CLASS_OCTAVE = 6;  // 2^6 = 64
constexpr int CLASSES_PER_DOUBLING = 8;
constexpr int CLASS_COUNT = 1 + (std::bit_width(LARGE_BLOCK_BYTES - 1) - 1 - SMALLEST_CLASS_OCTAVE + 1) * CLASSES_PER_DOUBLING;

// Where little is kept, each kind of kept block holds at most a few
// mebibytes and a quarter of the bytes in use. Under Wine at ten million
// digits, a quarter against an eighth: 280,000 page faults against 350,000,
// 10 MB more at the peak.
constexpr size_t KEEP_FLOOR_BYTES = size_t{4} << 20;
constexpr size_t KEEP_SHARE = 4;

std::atomic<bool> keep_all{false};

// The bytes of the large blocks handed out and not released: most of the
// memory in use wherever there is much of it, and counted without touching
// the path of the small blocks.
std::atomic<size_t> bytes_in_use{0};

size_t keep_limit()
{
    if (keep_all.load(std::memory_order_relaxed))
        return SIZE_MAX;
    return KEEP_FLOOR_BYTES + bytes_in_use.load(std::memory_order_relaxed) / KEEP_SHARE;
}

// The class of a request of 0 < bytes < LARGE_BLOCK_BYTES: class 0 holds up
// to 64 bytes; above, with 2^o < bytes <= 2^(o+1), the class is one of the
// eight steps of 2^o / 8 between them.
constexpr int size_class(size_t bytes)
{
    if (bytes <= SMALLEST_CLASS_BYTES)
        return 0;
    const int octave = std::bit_width(bytes - 1) - 1;
    const size_t step = (size_t{1} << octave) / CLASSES_PER_DOUBLING;
    const auto within = static_cast<int>((bytes - 1 - (size_t{1} << octave)) / step);
    return 1 + (octave - SMALLEST_CLASS_OCTAVE) * CLASSES_PER_DOUBLING + within;
}

// The bytes every block of a class holds.
constexpr size_t class_bytes(int size_class)
{
    if (size_class == 0)
        return SMALLEST_CLASS_BYTES;
    const int octave = (size_class - 1) / CLASSES_PER_DOUBLING + SMALLEST_CLASS_OCTAVE;
    const auto within = static_cast<size_t>((size_class - 1) % CLASSES_PER_DOUBLING);
    return (size_t{1} << octave) + (within + 1) * ((size_t{1} << octave) / CLASSES_PER_DOUBLING);
}

static_assert(class_bytes(CLASS_COUNT - 1) == LARGE_BLOCK_BYTES, "the last class ends at the large blocks");

// A released block holds the link to the next one on its list.
struct FreeList {
    std::atomic_flag locked;
    void* head = nullptr;
};

FreeList free_lists[CLASS_COUNT];
std::atomic<size_t> cached_bytes{0};

class ListLock {
public:
    explicit ListLock(FreeList& list) : list_(list)
    {
        while (list_.locked.test_and_set(std::memory_order_acquire))
            std::this_thread::yield();
    }
    ~ListLock() { list_.locked.clear(std::memory_order_release); }
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;

private:
    FreeList& list_;
};

void* take_cached(int size_class)
{
    FreeList& list = free_lists[size_class];
    const ListLock lock(list);
    void* block = list.head;
    if (block != nullptr) {
        std::memcpy(&list.head, block, sizeof list.head);
        cached_bytes.fetch_sub(class_bytes(size_class), std::memory_order_relaxed);
    }
    return block;
}

// Keeps a released block on the shared lists; false when they are full.
bool keep(void* block, int size_class)
{
    const size_t bytes = class_bytes(size_class);
    if (cached_bytes.fetch_add(bytes, std::memory_order_relaxed) + bytes > keep_limit()) {
        cached_bytes.fetch_sub(bytes, std::memory_order_relaxed);
        return false;
    }
    FreeList& list = free_lists[size_class];
    const ListLock lock(list);
    std::memcpy(block, &list.head, sizeof list.head);
    list.head = block;
    return true;
}

// The blocks of a class up to this size that a thread keeps for itself: as
// many as fill THREAD_KEPT_BYTES, at least one. Larger blocks are few, and
// go straight to the shared lists.
constexpr size_t THREAD_KEPT_CLASS_BYTES = size_t{16} << 10;
constexpr size_t THREAD_KEPT_BYTES = size_t{64} << 10;
constexpr int THREAD_KEPT_CLASSES = size_class(THREAD_KEPT_CLASS_BYTES) + 1;

struct ThreadLists {
    void* heads[THREAD_KEPT_CLASSES];
    size_t counts[THREAD_KEPT_CLASSES];
};

size_t thread_kept_blocks(int size_class)
{
    return std::max<size_t>(1, THREAD_KEPT_BYTES / class_bytes(size_class));
}

// A thread's lists, in its fiber-local storage, whose callback gives them to
// the shared lists when the thread ends.
void NTAPI give_back_thread_lists(void* data)
{
    auto* lists = static_cast<ThreadLists*>(data);
    if (lists == nullptr)
        return;
    for (int size_class = 0; size_class < THREAD_KEPT_CLASSES; ++size_class) {
        while (void* block = lists->heads[size_class]) {
            std::memcpy(&lists->heads[size_class], block, sizeof block);
            if (!keep(block, size_class))
                std::free(block);
        }
    }
    std::free(lists);
}

// This thread's lists; nullptr where none can be had, and then the shared
// lists serve alone.
ThreadLists* thread_lists()
{
    static const DWORD slot = FlsAlloc(give_back_thread_lists);
    if (slot == FLS_OUT_OF_INDEXES)
        return nullptr;
    auto* lists = static_cast<ThreadLists*>(FlsGetValue(slot));
    if (lists == nullptr) {
        lists = static_cast<ThreadLists*>(std::calloc(1, sizeof(ThreadLists)));
        if (lists != nullptr && !FlsSetValue(slot, lists)) {
            std::free(lists);
            lists = nullptr;
        }
    }
    return lists;
}

void* take_from_thread(int size_class)
{
    ThreadLists* const lists = size_class < THREAD_KEPT_CLASSES ? thread_lists() : nullptr;
    if (lists == nullptr || lists->heads[size_class] == nullptr)
        return nullptr;
    void* block = lists->heads[size_class];
    std::memcpy(&lists->heads[size_class], block, sizeof block);
    --lists->counts[size_class];
    return block;
}

// Keeps a released block on this thread's lists; false when they are full.
bool keep_in_thread(void* block, int size_class)
{
    ThreadLists* const lists = size_class < THREAD_KEPT_CLASSES ? thread_lists() : nullptr;
    if (lists == nullptr || lists->counts[size_class] >= thread_kept_blocks(size_class))
        return false;
    std::memcpy(block, &lists->heads[size_class], sizeof block);
    lists->heads[size_class] = block;
    ++lists->counts[size_class];
    return true;
}

// Large pages need the privilege to lock memory (SeLockMemoryPrivilege),
// which an administrator grants and the process must then enable. Where it
// is enabled, the large page size; otherwise 0, and normal pages serve.
size_t large_page_bytes()
{
    static const size_t bytes = [] {
        const size_t minimum = GetLargePageMinimum();
        HANDLE token = nullptr;
        if (minimum == 0 || !OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
            return size_t{0};
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        const bool enabled = LookupPrivilegeValueW(nullptr, L"SeLockMemoryPrivilege", &privileges.Privileges[0].Luid) &&
                             AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
                             GetLastError() == ERROR_SUCCESS;  // not ERROR_NOT_ALL_ASSIGNED
        CloseHandle(token);
        return enabled ? minimum : size_t{0};
    }();
    return bytes;
}

constexpr size_t round_up(size_t bytes, size_t unit) { return (bytes + unit - 1) / unit * unit; }

// Normal pages come in this granularity, whatever the request.
constexpr size_t PAGE_BYTES = size_t{4} << 10;

// A kept large block serves a request it fits without holding a quarter
// more than it.

struct KeptLarge {
    void* block;
    size_t bytes;  // committed from its start
};
std::mutex kept_large_lock;
std::vector<KeptLarge> kept_large;  // under kept_large_lock
size_t kept_large_bytes = 0;        // under kept_large_lock

// The bytes committed from the start of a block mapped for itself.
size_t committed_bytes(void* block)
{
    MEMORY_BASIC_INFORMATION region{};
    if (VirtualQuery(block, &region, sizeof region) == 0 || region.State != MEM_COMMIT)
        return 0;
    return region.RegionSize;
}

void* take_kept_large(size_t bytes)
{
    const std::lock_guard lock(kept_large_lock);
    size_t best = kept_large.size();
    for (size_t index = 0; index < kept_large.size(); ++index) {
        const size_t held = kept_large[index].bytes;
        if (held >= bytes && held - bytes <= bytes / 4 && (best == kept_large.size() || held < kept_large[best].bytes))
            best = index;
    }
    if (best == kept_large.size())
        return nullptr;
    void* block = kept_large[best].block;
    kept_large_bytes -= kept_large[best].bytes;
    kept_large[best] = kept_large.back();
    kept_large.pop_back();
    return block;
}

// Keeps a released large block; false when there is no room for it.
bool keep_large(void* block)
{
    const size_t bytes = committed_bytes(block);
    const std::lock_guard lock(kept_large_lock);
    if (bytes == 0 || kept_large_bytes + bytes > keep_limit())
        return false;
    kept_large.push_back({block, bytes});
    kept_large_bytes += bytes;
    return true;
}

// Fresh pages for a large block: large pages where the process may have
// them (they can be scarce, since they must be found whole in physical
// memory, and where none are left normal pages serve), else normal pages.
void* map_pages(size_t bytes)
{
    if (const size_t large_page = large_page_bytes(); large_page != 0 && bytes >= large_page) {
        if (void* block = VirtualAlloc(nullptr, round_up(bytes, large_page), MEM_RESERVE | MEM_COMMIT | MEM_LARGE_PAGES,
                                       PAGE_READWRITE))
            return block;
    }
    return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

}  // namespace

void keep_released_memory(KeptMemory kept)
{
    keep_all.store(kept == KeptMemory::all);
}

void* allocate_small_block(size_t bytes)
{
    const int size_class_of_request = size_class(bytes);
    if (void* block = take_from_thread(size_class_of_request))
        return block;
    if (void* block = take_cached(size_class_of_request))
        return block;
    return std::malloc(class_bytes(size_class_of_request));
}

void* reallocate_small_block(void* block, size_t old_bytes, size_t new_bytes)
{
    if (size_class(old_bytes) == size_class(new_bytes))
        return block;
    return move_block(block, old_bytes, new_bytes);
}

void release_small_block(void* block, size_t bytes)
{
    const int size_class_of_block = size_class(bytes);
    if (!keep_in_thread(block, size_class_of_block) && !keep(block, size_class_of_block))
        std::free(block);
}

void* map_large_block(size_t bytes)
{
    void* block = take_kept_large(bytes);
    if (block == nullptr)
        block = map_pages(bytes);
    if (block != nullptr)
        bytes_in_use.fetch_add(round_up(bytes, PAGE_BYTES), std::memory_order_relaxed);
    return block;
}

void* remap_large_block(void* block, size_t old_bytes, size_t new_bytes)
{
    // A block in normal pages gives back the tail it no longer needs and
    // keeps the rest where it is; the tail's addresses stay reserved until
    // the block is released, so a block that grows again takes them back.
    // (Large pages cannot be decommitted in part: such a block keeps them.)
    char* const start = static_cast<char*>(block);
    const size_t mapped = round_up(old_bytes, PAGE_BYTES);
    const size_t wanted = round_up(new_bytes, PAGE_BYTES);
    bool in_place = wanted <= mapped || committed_bytes(block) >= wanted;
    if (wanted < mapped)
        VirtualFree(start + wanted, mapped - wanted, MEM_DECOMMIT);
    MEMORY_BASIC_INFORMATION tail{};
    if (!in_place && VirtualQuery(start + mapped, &tail, sizeof tail) != 0 && tail.State == MEM_RESERVE &&
        tail.AllocationBase == block && tail.RegionSize >= wanted - mapped)
        in_place = VirtualAlloc(start + mapped, wanted - mapped, MEM_COMMIT, PAGE_READWRITE) != nullptr;
    if (in_place) {
        bytes_in_use.fetch_add(wanted, std::memory_order_relaxed);
        bytes_in_use.fetch_sub(mapped, std::memory_order_relaxed);
        return block;
    }
    return move_block(block, old_bytes, new_bytes);
}

void unmap_large_block(void* block, size_t bytes)
{
    bytes_in_use.fetch_sub(round_up(bytes, PAGE_BYTES), std::memory_order_relaxed);
    if (!keep_large(block))
        VirtualFree(block, 0, MEM_RELEASE);
}
