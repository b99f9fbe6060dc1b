#pragma once
// Tagged lock-free LIFO of nodes whose first field is their link pointer (pool nodes, pool segments, the
// content store's release records).
//
// The {head, tag} pair is exchanged as one 16-byte word (cmpxchg16b): the head keeps its full 64-bit
// address and the tag all of its 32 bits, so neither node alignment nor the width of user addresses is
// assumed. Packing the pointer with a 20-bit tag into 8 bytes measured about 2 ns faster per pop and
// push on one thread, with neither ahead on eight (bench/pool_bench.cpp), but its tag repeats after 2^20
// changes: at tens of millions of changes a second that fits inside one preempted time slice, and a
// stale exchange would then succeed. The full tag repeats only after 2^32.
#include <cstdint>

#include "platformlib/allocator/atomic.h"

namespace tavrix::util {

struct alignas(16) lockFreeStack {
    void* head;
    uint32_t tag;
    uint32_t spare; // always 0: widens the pair to the 16 bytes of one exchange
};
static_assert(sizeof(lockFreeStack) == 16, "the pair is one 16-byte exchange");

namespace lfDetail {

typedef unsigned __int128 __attribute__((may_alias)) pairWord;

inline pairWord pack(void* head, uint32_t tag)
{
    return static_cast<pairWord>(reinterpret_cast<uintptr_t>(head)) | static_cast<pairWord>(tag) << 64;
}
inline void* headOf(pairWord pair) { return reinterpret_cast<void*>(static_cast<uintptr_t>(pair)); }
inline uint32_t tagOf(pairWord pair) { return static_cast<uint32_t>(pair >> 64); }

// The halves are read one after the other; a torn snapshot only makes the exchange fail.
inline pairWord snapshot(const lockFreeStack* stack)
{
    void* head = __atomic_load_n(&stack->head, __ATOMIC_ACQUIRE);
    return pack(head, __atomic_load_n(&stack->tag, __ATOMIC_RELAXED));
}

// The pair found: equal to `expected` when the exchange took place.
inline pairWord exchange(lockFreeStack* stack, pairWord expected, pairWord desired)
{
    return __sync_val_compare_and_swap(reinterpret_cast<volatile pairWord*>(stack), expected, desired);
}

// The link is written by a pusher while a stale popper may read it: both go through atomic accesses.
inline void* linkOf(void* node)
{
    return __atomic_load_n(static_cast<void**>(node), __ATOMIC_RELAXED);
}

inline void setLink(void* node, void* next)
{
    __atomic_store_n(static_cast<void**>(node), next, __ATOMIC_RELAXED);
}

} // namespace lfDetail

// The tag starts at 43; every push and pop stores tag + 1 so a head popped and pushed back between
// another thread's read and its exchange no longer matches.
inline void lfStackInit(lockFreeStack* stack)
{
    atomicXchgPointer(&stack->head, static_cast<void*>(nullptr));
    __atomic_exchange_n(&stack->tag, 43u, __ATOMIC_SEQ_CST);
    __atomic_exchange_n(&stack->spare, 0u, __ATOMIC_SEQ_CST);
}

// first..last, already linked through their link fields, go on top with one exchange.
inline void lfStackPushChain(lockFreeStack* stack, void* first, void* last)
{
    lfDetail::pairWord seen = lfDetail::snapshot(stack);
    for (;;) {
        lfDetail::setLink(last, lfDetail::headOf(seen));
        const lfDetail::pairWord found = lfDetail::exchange(stack, seen, lfDetail::pack(first, lfDetail::tagOf(seen) + 1));
        if (found == seen)
            return;
        __builtin_ia32_pause(); // eases the fight for the line under contention
        seen = found;
    }
}

inline void lfStackPush(lockFreeStack* stack, void* node) { lfStackPushChain(stack, node, node); }

// Reading the link of a head another thread has just taken is safe only because nodes are never given
// back to the system while the stack is in use; the tag makes such a stale exchange fail.
inline void* lfStackPop(lockFreeStack* stack)
{
    lfDetail::pairWord seen = lfDetail::snapshot(stack);
    for (;;) {
        void* head = lfDetail::headOf(seen);
        if (!head)
            return nullptr;
        const lfDetail::pairWord found = lfDetail::exchange(stack, seen, lfDetail::pack(lfDetail::linkOf(head), lfDetail::tagOf(seen) + 1));
        if (found == seen)
            return head;
        __builtin_ia32_pause();
        seen = found;
    }
}

} // namespace tavrix::util
