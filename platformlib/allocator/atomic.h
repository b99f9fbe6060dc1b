#pragma once
// Interlocked operations on 32-bit words, pointers and 8-byte pairs. Every one is a full barrier.
// Increment and decrement return the new value; exchange and compare-exchange the previous one.
#include <cstdint>

namespace tavrix::util {

// With exchange equal to comparand nothing changes: the call is then an atomic read.
inline int32_t atomicCas32(volatile int32_t* dst, int32_t exchange, int32_t comparand)
{
    __atomic_compare_exchange_n(dst, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}

inline int32_t atomicXchg32(volatile int32_t* dst, int32_t value)
{
    return __atomic_exchange_n(dst, value, __ATOMIC_SEQ_CST);
}

// Any pointer type, function pointers included.
template <class P>
inline P* atomicXchgPointer(P* volatile* slot, P* value)
{
    return __atomic_exchange_n(slot, value, __ATOMIC_SEQ_CST);
}

inline int32_t atomicInc32(volatile int32_t* dst)
{
    return __atomic_add_fetch(dst, 1, __ATOMIC_SEQ_CST);
}

inline int32_t atomicDec32(volatile int32_t* dst)
{
    return __atomic_sub_fetch(dst, 1, __ATOMIC_SEQ_CST);
}

// A relaxed read, for counters that are only reported (no ordering, no locked bus cycle).
inline int32_t atomicLoad32(const volatile int32_t* src)
{
    return __atomic_load_n(src, __ATOMIC_RELAXED);
}

// The pair's low half is the word at the lower address; results carry it in bits 0-31.
inline uint64_t atomicPair(uint32_t low, uint32_t high)
{
    return static_cast<uint64_t>(high) << 32 | low;
}

inline uint64_t atomicCas64(volatile uint64_t* dst, uint32_t newLow, uint32_t newHigh, uint32_t expectedLow,
                            uint32_t expectedHigh)
{
    uint64_t expected = atomicPair(expectedLow, expectedHigh);
    __atomic_compare_exchange_n(dst, &expected, atomicPair(newLow, newHigh), false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return expected;
}

inline uint64_t atomicStore64(volatile uint64_t* dst, uint32_t low, uint32_t high)
{
    return __atomic_exchange_n(dst, atomicPair(low, high), __ATOMIC_SEQ_CST);
}

} // namespace tavrix::util
