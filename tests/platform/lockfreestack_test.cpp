#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platformlib/allocator/atomic.h"
#include "platformlib/allocator/lockfreestack.h"

using namespace tavrix::util;

namespace {

TEST(atomics, resultsAreTheNewValueForCountersAndThePreviousForExchanges)
{
    volatile int32_t word = 5;
    EXPECT_EQ(atomicCas32(&word, 9, 4), 5); // comparand differs: unchanged
    EXPECT_EQ(word, 5);
    EXPECT_EQ(atomicCas32(&word, 9, 5), 5);
    EXPECT_EQ(word, 9);
    EXPECT_EQ(atomicCas32(&word, 9, 9), 9); // the atomic read
    EXPECT_EQ(atomicXchg32(&word, -1), 9);
    EXPECT_EQ(atomicInc32(&word), 0);
    EXPECT_EQ(atomicDec32(&word), -1);
    EXPECT_EQ(atomicDec32(&word), -2);

    static void (*drawCallback)() = nullptr;
    void (*const draw)() = [] {};
    EXPECT_EQ(atomicXchgPointer(&drawCallback, draw), nullptr);
    EXPECT_EQ(atomicXchgPointer(&drawCallback, static_cast<void (*)()>(nullptr)), draw);
}

TEST(atomics, pairOperationsTakeTheLowHalfAtTheLowerAddress)
{
    alignas(8) volatile uint64_t pair = 0;
    const volatile uint32_t* halves = reinterpret_cast<const volatile uint32_t*>(&pair);
    EXPECT_EQ(atomicStore64(&pair, 0x11111111, 0x22222222), 0u);
    EXPECT_EQ(halves[0], 0x11111111u);
    EXPECT_EQ(halves[1], 0x22222222u);
    // A wrong expected half fails the whole exchange.
    EXPECT_EQ(atomicCas64(&pair, 1, 2, 0x11111111, 0x33333333), 0x2222222211111111u);
    EXPECT_EQ(pair, 0x2222222211111111u);
    EXPECT_EQ(atomicCas64(&pair, 1, 2, 0x11111111, 0x22222222), 0x2222222211111111u);
    EXPECT_EQ(pair, 0x0000000200000001u);
}

struct testNode {
    testNode* link;
    std::atomic<int32_t> onStack;
};

TEST(lockFreeStack, isLastInFirstOutAndCountsEveryChangeFromTag43)
{
    lockFreeStack stack;
    stack.head = &stack; // garbage that init must clear
    stack.tag = 7;
    lfStackInit(&stack);
    EXPECT_EQ(stack.head, nullptr);
    EXPECT_EQ(stack.tag, 43u);
    EXPECT_EQ(lfStackPop(&stack), nullptr);
    EXPECT_EQ(stack.tag, 43u); // an empty pop changes nothing

    testNode a{}, b{};
    lfStackPush(&stack, &a);
    lfStackPush(&stack, &b);
    EXPECT_EQ(b.link, &a);
    EXPECT_EQ(lfStackPop(&stack), &b);
    EXPECT_EQ(lfStackPop(&stack), &a);
    EXPECT_EQ(lfStackPop(&stack), nullptr);
    EXPECT_EQ(stack.tag, 47u);

    stack.tag = UINT32_MAX;
    lfStackPush(&stack, &a);
    EXPECT_EQ(stack.tag, 0u); // wraps
    EXPECT_EQ(lfStackPop(&stack), &a);
}

// Few nodes and many threads turn the same heads over constantly: without the tag a stale exchange
// would hand a node out twice or lose part of the list.
TEST(lockFreeStack, eightThreadsNeverPopANodeTwiceNorLoseOne)
{
    constexpr int NODES = 12;
    constexpr int THREADS = 8;
    constexpr int ROUNDS = 100000;
    lockFreeStack stack;
    lfStackInit(&stack);
    std::vector<testNode> nodes(NODES);
    for (auto& n : nodes) {
        n.onStack = 1;
        lfStackPush(&stack, &n);
    }
    std::atomic<int32_t> doublePops{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < ROUNDS; ++i) {
                testNode* held[2] = {static_cast<testNode*>(lfStackPop(&stack)),
                                     static_cast<testNode*>(lfStackPop(&stack))};
                for (testNode* n : held)
                    if (n && n->onStack.exchange(0) != 1)
                        ++doublePops;
                for (testNode* n : held)
                    if (n) {
                        n->onStack = 1;
                        lfStackPush(&stack, n);
                    }
            }
        });
    for (auto& t : threads)
        t.join();

    EXPECT_EQ(doublePops.load(), 0);
    int count = 0;
    while (testNode* n = static_cast<testNode*>(lfStackPop(&stack))) {
        ASSERT_LE(++count, NODES) << "the list has a cycle";
        EXPECT_EQ(n->onStack.exchange(0), 1);
    }
    EXPECT_EQ(count, NODES);
}

} // namespace
