// A vector of limbs whose new elements are left unwritten. Every engine
// writes all of its result, so zeroing it first would only make hundreds of
// megabytes resident long before the engine's last step fills them.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

template <class T>
struct UnwrittenAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UnwrittenAllocator<U>;
    };

    UnwrittenAllocator() = default;
    template <class U>
    UnwrittenAllocator(const UnwrittenAllocator<U>&) noexcept
    {
    }

    // Default-initialization: for int32_t, no write at all.
    template <class U>
    void construct(U* place) noexcept
    {
        ::new (static_cast<void*>(place)) U;
    }
    template <class U, class... Args>
    void construct(U* place, Args&&... args)
    {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }
};

using UnwrittenLimbs = std::vector<int32_t, UnwrittenAllocator<int32_t>>;
