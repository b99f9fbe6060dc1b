#pragma once
// Fixed-size element slots of one type for any thread without a lock. Memory is committed from the
// system in whole segments, carved into nodes of a 32-byte header followed by the element, and kept on a
// tagged lock-free stack; nothing goes back to the system before the pool is destroyed, which is also
// what makes the lock-free pop safe.
#include <cstdint>
#include <mutex>

#include "platformlib/allocator/atomic.h"
#include "platformlib/allocator/lockfreestack.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/hooks.h"
#include "platformlib/posix/thread.h"
#include "platformlib/posix/vmem.h"
#include "platformlib/util/exception.h"

// What a node's owner field names whatever the element type: enough to tell a pool by its name.
class poolBase : public tavrix::roAlloc {
public:
    const char* getName() const { return name; }

protected:
    poolBase() = default;
    ~poolBase() = default;
    char* name = nullptr;
};

// Logs the process memory report (when the client provides one), then formats a fatal
// segment-allocation text into a 512-byte message.
struct poolFatalText {
    char text[512];
};
poolFatalText poolFatalReport(const char* format, ...) __attribute__((format(printf, 1, 2)));

template <class T>
class Pool : public poolBase {
public:
    typedef void (*elemCallback)(T* element);
    typedef void (*growCallback)(uint32_t newTotal);

    // allocStep below 32 counts as 32; initialAlloc 0 means one segment. Throws when no platform timer
    // system is registered.
    Pool(const char* name, uint32_t allocStep, uint32_t initialAlloc, uint8_t largePages,
         elemCallback elemInit = nullptr, elemCallback elemRelease = nullptr, growCallback grow = nullptr);
    ~Pool();
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    // Never null: waits for a put or grows.
    T* get();
    // A pointer that is not a live node of this pool is logged and dropped.
    void put(T* element);
    // Elements gathered one by one go back together with putGathered: one exchange and one count for all
    // of them. Each is checked as put checks it.
    class gathered;
    void gather(gathered& batch, T* element);
    void putGathered(gathered& batch);
    // Three plain reads, not one snapshot.
    void getStats(int32_t& total, int32_t& free, int32_t& peak) const;

private:
    static constexpr uint32_t HEADER_BYTES = 32;
    static constexpr uint32_t MAGIC1 = 0x04347001;
    static constexpr uint32_t MAGIC2 = 0x0000DEAD;
    // The sizes come from user-editable settings: a pool whose segments would pass this many bytes is
    // refused as out of memory before they are committed. It also keeps a segment's size within the
    // 32-bit field of its header.
    static constexpr uint64_t MAX_POOL_BYTES = uint64_t(1) << 30;

    // With 64-bit pointers the three pointers and two magics fill the 32 bytes; the reserved words of
    // the 32-bit layout are dropped, so the element still starts 32 bytes after its header.
    struct node {
        node* link;
        T* element;
        const poolBase* owner;
        uint32_t magic1;
        uint32_t magic2;
    };
    struct segment {
        segment* link;
        void* base;
        uint32_t bytes;
        uint8_t reserved[12];
    };
    static_assert(sizeof(node) == HEADER_BYTES && sizeof(segment) == HEADER_BYTES, "headers are 32 bytes");

    uint64_t nodeBytes() const { return stride + HEADER_BYTES; }
    T* elementAt(void* base, uint32_t index) const
    {
        return reinterpret_cast<T*>(static_cast<char*>(base) + 2 * HEADER_BYTES + index * nodeBytes());
    }
    // What one segment commits, in large pages or in normal ones.
    uint64_t segmentBytes(bool large) const;
    // The larger of the two: what the ceiling counts, whichever the system grants.
    uint64_t largestSegmentBytes() const;
    [[noreturn]] static void outOfMemory(const char* poolName, uint64_t bytes);
    void segmentAllocate();
    void releaseSegments();
    // The element's header when it is a live node of this pool; otherwise logged, and null.
    node* ownNode(T* element);

    uint8_t largePages;
    uint32_t largePageBytes;
    uint32_t stride;
    uint32_t perSegment;
    elemCallback elemInit;
    elemCallback elemRelease;
    growCallback grow;
    volatile int32_t total;
    volatile int32_t free;
    volatile int32_t peak;
    tavrix::util::lockFreeStack segments;
    tavrix::util::lockFreeStack freeNodes;
    // Only growth takes it: the grow callback then always sees the total its segment brings.
    tavrix::util::mutex growLock;
    // Bytes of the segments committed so far; under growLock.
    uint64_t committedBytes;
};

template <class T>
class Pool<T>::gathered {
    friend class Pool<T>;
    node* top = nullptr;
    node* bottom = nullptr;
    int32_t count = 0;
};

template <class T>
Pool<T>::Pool(const char* name_, uint32_t allocStep, uint32_t initialAlloc, uint8_t largePages_,
              elemCallback elemInit_, elemCallback elemRelease_, growCallback grow_)
{
    uint64_t count = allocStep < 32 ? 32 : allocStep;
    const char* shownName = name_ && *name_ ? name_ : "Unnamed";
    if (!platform_getTimerSystem())
        TAVRIX_FATAL("Tried to Create a Pool - but no platform Timer System has been registered!\n");

    stride = sizeof(T) - sizeof(T) % 16 + 16;
    // A system without large pages set aside gets normal pages.
    largePageBytes = largePages_ == 1 ? tavrix::sys::getLargePageMinimum() : 0;
    largePages = largePageBytes ? 1 : 0;
    const uint64_t page = largePageBytes ? largePageBytes : tavrix::sys::getPageSize();
    // Fill the rest of the page-rounded segment with nodes; an exact fit gains a whole page.
    const uint64_t raw = count * nodeBytes() + HEADER_BYTES;
    count += (page - raw % page) / nodeBytes();
    // A count past 32 bits cannot be committed anyway; segmentAllocate refuses it.
    perSegment = count > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(count);
    const uint64_t initial = initialAlloc ? initialAlloc : perSegment;
    const uint64_t segmentCount = (initial + perSegment - 1) / perSegment;
    const uint64_t poolBytes = segmentCount * largestSegmentBytes();
    if (poolBytes > MAX_POOL_BYTES)
        outOfMemory(shownName, poolBytes);

    name = rostrdup(shownName);
    committedBytes = 0;
    total = 0;
    free = 0;
    peak = 0;
    tavrix::util::lfStackInit(&segments);
    tavrix::util::lfStackInit(&freeNodes);
    elemInit = elemInit_;
    elemRelease = elemRelease_;
    grow = grow_;
    try {
        for (uint64_t i = 0; i < segmentCount; ++i)
            segmentAllocate();
    } catch (...) {
        releaseSegments();
        throw;
    }
}

template <class T>
Pool<T>::~Pool()
{
    if (tavrix::util::atomicLoad32(&free) < tavrix::util::atomicLoad32(&total))
        PLATFORM_LOG(tavrix::util::LOG_ERROR, "[Platform] ~Pool<%s>:  Pool is not Empty!\n", name);
    releaseSegments();
}

// Every slot's elemRelease runs, free or in use, before its segment goes back to the system.
template <class T>
void Pool<T>::releaseSegments()
{
    while (segment* seg = static_cast<segment*>(tavrix::util::lfStackPop(&segments))) {
        if (elemRelease)
            for (uint32_t i = 0; i < perSegment; ++i)
                elemRelease(elementAt(seg->base, i));
        tavrix::sys::vmemRelease(seg->base, seg->bytes);
    }
    rofree(name);
    name = nullptr;
}

template <class T>
T* Pool<T>::get()
{
    node* taken;
    while (!(taken = static_cast<node*>(tavrix::util::lfStackPop(&freeNodes))))
        tavrix::sys::yield();
    // The caller that takes the last counted free element pays for the growth.
    if (tavrix::util::atomicDec32(&free) == 0)
        segmentAllocate();
    const int32_t inUse = tavrix::util::atomicLoad32(&total) - tavrix::util::atomicLoad32(&free);
    if (inUse > tavrix::util::atomicLoad32(&peak))
        tavrix::util::atomicXchg32(&peak, inUse);
    return taken->element;
}

template <class T>
typename Pool<T>::node* Pool<T>::ownNode(T* element)
{
    node* header = reinterpret_cast<node*>(reinterpret_cast<char*>(element) - HEADER_BYTES);
    const bool magicIntact = header->magic1 == MAGIC1 && header->magic2 == MAGIC2;
    if (header->owner == this && magicIntact)
        return header;
    PLATFORM_LOG(tavrix::util::LOG_ERROR, "[Platform] Pool<%s>::put(): ASSERT %s fail\n", name,
                 header->owner != this ? "pool" : "magic");
    if (magicIntact)
        PLATFORM_LOG(tavrix::util::LOG_ERROR, "[Platform] this %s != node %s\n", name, header->owner->getName());
    return nullptr;
}

template <class T>
void Pool<T>::put(T* element)
{
    if (node* header = ownNode(element)) {
        tavrix::util::lfStackPush(&freeNodes, header);
        tavrix::util::atomicInc32(&free);
    }
}

template <class T>
void Pool<T>::gather(gathered& batch, T* element)
{
    node* header = ownNode(element);
    if (!header)
        return;
    tavrix::util::lfDetail::setLink(header, batch.top);
    batch.top = header;
    if (!batch.bottom)
        batch.bottom = header;
    ++batch.count;
}

template <class T>
void Pool<T>::putGathered(gathered& batch)
{
    if (batch.top) {
        tavrix::util::lfStackPushChain(&freeNodes, batch.top, batch.bottom);
        __atomic_add_fetch(&free, batch.count, __ATOMIC_SEQ_CST);
    }
    batch = gathered();
}

template <class T>
void Pool<T>::getStats(int32_t& total_, int32_t& free_, int32_t& peak_) const
{
    total_ = tavrix::util::atomicLoad32(&total);
    free_ = tavrix::util::atomicLoad32(&free);
    peak_ = tavrix::util::atomicLoad32(&peak);
}

// Sizes in 64 bits: the counts come from user-editable settings.
template <class T>
uint64_t Pool<T>::segmentBytes(bool large) const
{
    const uint64_t needed = perSegment * nodeBytes() + HEADER_BYTES;
    if (large)
        return (needed + largePageBytes - 1) / largePageBytes * largePageBytes;
    const uint64_t page = tavrix::sys::getPageSize();
    return needed + page - needed % page;
}

template <class T>
uint64_t Pool<T>::largestSegmentBytes() const
{
    const uint64_t normal = segmentBytes(false);
    const uint64_t large = largePageBytes ? segmentBytes(true) : 0;
    return large > normal ? large : normal;
}

template <class T>
void Pool<T>::outOfMemory(const char* poolName, uint64_t bytes)
{
    TAVRIX_FATAL("%s", poolFatalReport("Out Of Memory\n\nTried to allocate %u Bytes for Pool<%s>\n", static_cast<uint32_t>(bytes > UINT32_MAX ? UINT32_MAX : bytes), poolName).text);
}

template <class T>
void Pool<T>::segmentAllocate()
{
    std::lock_guard<tavrix::util::mutex> serialised(growLock);
    const uint64_t largest = largestSegmentBytes();
    // Refused before the system is asked. Under the ceiling a segment fits its 32-bit size field and the
    // total stays far within 31 bits.
    if (committedBytes + largest > MAX_POOL_BYTES)
        outOfMemory(name, largest);

    bool large = largePages == 1;
    uint32_t attempts = 0;
    uint32_t quickRetries = 0;
    void* base;
    uint32_t bytes;
    for (;;) {
        ++attempts;
        bytes = static_cast<uint32_t>(segmentBytes(large));
        uint32_t err = 0;
        base = tavrix::sys::vmemCommit(bytes, large, &err);
        if (base)
            break;
        if (err == tavrix::sys::VMEM_ERROR_NO_SYSTEM_RESOURCES && ++quickRetries < 32) {
            tavrix::sys::yield();
            continue;
        }
        PLATFORM_LOG(tavrix::util::LOG_ERROR, "[Platform] Pool<%s>::segmentAllocate(): VirtualAlloc failed! (Errcode: %u) - Bytes Total: %u\n", name, err, bytes);
        if (err == tavrix::sys::VMEM_ERROR_NOT_ENOUGH_MEMORY) {
            if (attempts < 16) {
                tavrix::sys::yield();
                continue;
            }
            outOfMemory(name, bytes);
        }
        if (err == tavrix::sys::VMEM_ERROR_NO_SYSTEM_RESOURCES && large) {
            PLATFORM_LOG(tavrix::util::LOG_ERROR, "[Platform] Pool<%s>::segmentAllocate(): Allocation of large Pages failed, system reported out of ressources, allocating normal pages, please reboot the system!\n", name);
            large = false;
            continue;
        }
        if (attempts > 16)
            TAVRIX_FATAL("%s", poolFatalReport("Where is the Guru?!\n\nSegment Allocation Failed\nPool<%s>\nError: %u\nBytes: %u\n", name, err, bytes).text);
        if (err == tavrix::sys::VMEM_ERROR_PRIVILEGE_NOT_HELD) {
            PLATFORM_LOG(tavrix::util::LOG_ERROR, "[Platform] Pool<%s>::segmentAllocate(): Allocation of LargePages failed, this happens when the Current user has no Permission to LOCK Pages in Memory (to allow: Open Security Policy manager => Local Policies => User Rights Assignment => Lock pages in Memory, add the user)\n", name);
            large = false;
            continue;
        }
        tavrix::sys::sleepMs(32);
    }

    // Before any node of the new segment exists; under the growth lock total is exact.
    if (grow)
        grow(static_cast<uint32_t>(tavrix::util::atomicLoad32(&total) + perSegment));

    // Committed memory reads as zero: headers and elements start cleared.
    segment* seg = static_cast<segment*>(base);
    seg->base = base;
    seg->bytes = bytes;
    committedBytes += bytes;
    tavrix::util::lfStackPush(&segments, seg);
    for (uint32_t i = 0; i < perSegment; ++i) {
        node* carved = reinterpret_cast<node*>(reinterpret_cast<char*>(elementAt(base, i)) - HEADER_BYTES);
        carved->element = elementAt(base, i);
        carved->owner = this;
        carved->magic1 = MAGIC1;
        carved->magic2 = MAGIC2;
        if (elemInit)
            elemInit(carved->element);
        tavrix::util::lfStackPush(&freeNodes, carved);
        tavrix::util::atomicInc32(&total);
        tavrix::util::atomicInc32(&free);
    }
}
