// Block memory against plain bookkeeping: blocks of every size class and
// across the large-block size keep their bytes through reallocations that
// grow, shrink and move them, on several threads at once; large blocks that
// shrink and grow again in place; on POSIX, large blocks start on a huge
// page.
#include "block_memory.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace {

struct Block {
    unsigned char* bytes = nullptr;
    size_t size = 0;
    unsigned char fill = 0;
};

// Every byte of a block is its fill, so a lost or moved byte shows.
bool holds_its_fill(const Block& block, size_t up_to)
{
    for (size_t i = 0; i < up_to; ++i)
        if (block.bytes[i] != block.fill)
            return false;
    return true;
}

// Sizes at the edges of the classes and of the large blocks, and between.
size_t some_size(std::mt19937_64& random)
{
    static const size_t edges[] = {1,   8,    63,   64,   65,   72,    73,    127,   128,   129,
                                   1000, 4095, 4096, 4097, 65535, 65536, 65537, 524288, 917504, 917505,
                                   LARGE_BLOCK_BYTES - 1, LARGE_BLOCK_BYTES, LARGE_BLOCK_BYTES + 1,
                                   3 * LARGE_BLOCK_BYTES + 4100};
    switch (random() % 3) {
    case 0:
        return edges[random() % std::size(edges)];
    case 1:
        return 1 + random() % 4096;
    default:
        return 1 + random() % (2 * LARGE_BLOCK_BYTES);
    }
}

// Allocates, reallocates and releases blocks at random, checking each
// block's bytes before it is changed; returns the number of faults seen.
int churn(uint64_t seed, int steps)
{
    std::mt19937_64 random(seed);
    std::vector<Block> live;
    int faults = 0;
    for (int step = 0; step < steps; ++step) {
        const uint64_t choice = live.empty() ? 0 : random() % 3;
        if (choice == 0) {
            Block block;
            block.size = some_size(random);
            block.fill = static_cast<unsigned char>(random());
            block.bytes = static_cast<unsigned char*>(allocate_block(block.size));
            if (block.bytes == nullptr)
                return faults + 1;
            std::memset(block.bytes, block.fill, block.size);
            live.push_back(block);
        } else {
            const size_t index = random() % live.size();
            Block& block = live[index];
            faults += holds_its_fill(block, block.size) ? 0 : 1;
            if (choice == 1) {
                const size_t new_size = some_size(random);
                auto* moved = static_cast<unsigned char*>(reallocate_block(block.bytes, block.size, new_size));
                if (moved == nullptr)
                    return faults + 1;
                block.bytes = moved;
                faults += holds_its_fill(block, std::min(block.size, new_size)) ? 0 : 1;
                block.size = new_size;
                std::memset(block.bytes, block.fill, block.size);
            } else {
                release_block(block.bytes, block.size);
                live[index] = live.back();
                live.pop_back();
            }
        }
    }
    for (const Block& block : live) {
        faults += holds_its_fill(block, block.size) ? 0 : 1;
        release_block(block.bytes, block.size);
    }
    return faults;
}

}  // namespace

TEST(BlockMemory, BlocksKeepTheirBytesThroughEveryKindOfReallocation)
{
    EXPECT_EQ(churn(1, 3000), 0);
}

TEST(BlockMemory, ThreadsShareTheFreeListsWithoutLosingABlock)
{
    // Blocks released on one thread are taken again on another.
    for (const int threads : {2, 4}) {
        std::vector<int> faults(threads, 0);
        std::vector<std::thread> workers;
        for (int index = 0; index < threads; ++index)
            workers.emplace_back([&, index] { faults[index] = churn(100 + index, 2000); });
        for (std::thread& worker : workers)
            worker.join();
        for (int index = 0; index < threads; ++index)
            EXPECT_EQ(faults[index], 0) << "thread " << index << " of " << threads;
    }
}

TEST(BlockMemory, ALargeBlockShrinksAndGrowsAgainWithItsBytes)
{
    const size_t bytes = 5 * LARGE_BLOCK_BYTES + 12345;
    auto* block = static_cast<unsigned char*>(allocate_block(bytes));
    ASSERT_NE(block, nullptr);
#ifndef _WIN32
    // Each large block starts on a huge page, so its pages can be huge.
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % (size_t{2} << 20), 0u);
#endif
    std::memset(block, 0xa5, bytes);
    const size_t smaller = 2 * LARGE_BLOCK_BYTES + 7;
    block = static_cast<unsigned char*>(reallocate_block(block, bytes, smaller));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[0], 0xa5);
    EXPECT_EQ(block[smaller - 1], 0xa5);
    block = static_cast<unsigned char*>(reallocate_block(block, smaller, 3 * bytes));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[0], 0xa5);
    EXPECT_EQ(block[smaller - 1], 0xa5);
    std::memset(block, 0x5a, 3 * bytes);  // every byte of the grown block is there to write
    EXPECT_EQ(block[3 * bytes - 1], 0x5a);
    release_block(block, 3 * bytes);
}
