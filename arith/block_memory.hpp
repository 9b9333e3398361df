// Memory for big numbers, whose size is known at every call (GMP passes it
// to its reallocation and release, and so does any other user of these):
// many small blocks, the nodes of trees of numbers, and a few large ones.
//
// Blocks of LARGE_BLOCK_BYTES or more are mapped for themselves and go back
// to the system when released, so holes between live blocks never add to
// the peak. On Linux they start on a huge page boundary and ask for
// transparent huge pages, so that a fault brings in two mebibytes instead of
// four kibibytes; on Windows they use large pages where the process holds
// the privilege for them. Smaller blocks come from the C heap on POSIX, whose
// allocator serves them well, and on Windows from free lists of size
// classes kept by this process, since the system heap takes a lock and a
// long path for each of the hundreds of thousands of small blocks a run
// asks for.
#pragma once

#include <cstddef>
#include <new>
#include <span>
#include <type_traits>

// The size from which a block is mapped for itself.
inline constexpr size_t LARGE_BLOCK_BYTES = size_t{1} << 20;

// How much of the memory released by blocks is kept for reuse rather than
// given back to the system: all of it, where a run is small enough that
// memory given back would be faulted straight back in, or a little beyond
// what is in use, where the peak matters more. Process-wide; little until
// set.
enum class KeptMemory { all, little };
void keep_released_memory(KeptMemory kept);

// Each returns nullptr when the system refuses the memory (and then leaves
// block as it was). bytes > 0.
void* allocate_block(size_t bytes);
void* reallocate_block(void* block, size_t old_bytes, size_t new_bytes);
// bytes is the size the block was allocated or last reallocated with.
void release_block(void* block, size_t bytes);

// An array of count values of a trivial type T in block memory, left
// unwritten (every user writes what it reads), released with the array.
// Throws std::bad_alloc when the memory is refused.
template <class T>
class BlockArray {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>, "plain values only");

public:
    explicit BlockArray(size_t count)
        : values_(count == 0 ? nullptr : static_cast<T*>(allocate_block(count * sizeof(T)))), count_(count)
    {
        if (count != 0 && values_ == nullptr)
            throw std::bad_alloc();
    }
    ~BlockArray()
    {
        if (values_ != nullptr)
            release_block(values_, count_ * sizeof(T));
    }
    BlockArray(const BlockArray&) = delete;
    BlockArray& operator=(const BlockArray&) = delete;

    T* data() { return values_; }
    const T* data() const { return values_; }
    size_t size() const { return count_; }
    T& operator[](size_t index) { return values_[index]; }
    const T& operator[](size_t index) const { return values_[index]; }
    operator std::span<T>() { return {values_, count_}; }
    operator std::span<const T>() const { return {values_, count_}; }

private:
    T* values_;
    size_t count_;
};
