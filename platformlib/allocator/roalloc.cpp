#include "platformlib/allocator/roalloc.h"

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <x86intrin.h>

#include "platformlib/hooks.h"
#include "platformlib/posix/heap.h"
#include "platformlib/posix/thread.h"
#include "platformlib/util/exception.h"
#include "platformlib/util/format.h"
#include "platformlib/util/textfile.h"

using tavrix::util::ptrArg;

static_assert(sizeof(roBlockHeader) % 16 == 0, "the caller's bytes must stay 16-byte aligned");

namespace {

constexpr std::size_t BLOCK_ALIGNMENT = 16;
constexpr uint32_t HEAP_ATTEMPTS = 20;
constexpr uint32_t HEAP_RETRY_PAUSE_MS = 16;
static_assert(HEAP_ATTEMPTS > 1, "a refused request is retried under the list lock");

// The all-blocks list is split into a few lists, each with its own lock, so that threads allocating at once
// do not queue on one lock; a thread keeps to one list. The leak report orders the blocks of all lists by
// their sequence: the processor's time-stamp counter when linked, raised where needed so that it grows
// along each list (and so along each thread's allocations) even if the counter is not in step across cores.
constexpr uint32_t LISTS = 8;

// Each list holds its released blocks back for a while so that a second release still finds their released
// magic. The newest one is always held; older ones go back to the heap once either bound is passed.
constexpr uint32_t QUARANTINE_BLOCKS = 32;
constexpr uint64_t QUARANTINE_BYTES = 1u << 20;

struct quarantine {
    roBlockHeader* blocks[QUARANTINE_BLOCKS];
    uint32_t oldest;
    uint32_t count;
    uint64_t bytes;
};

struct alignas(64) blockList {
    tavrix::util::mutex* lock;
    roBlockHeader* head;
    uint64_t lastSequence;
    quarantine held;
};

uint8_t initialised;
blockList lists[LISTS];
std::atomic<uint32_t> threadsSeen;
thread_local uint32_t ownList = LISTS;
uint8_t signature[ROALLOC_SIGNATURE_SIZE];

blockList& listOfThisThread()
{
    if (ownList == LISTS)
        ownList = threadsSeen.fetch_add(1, std::memory_order_relaxed) % LISTS;
    return lists[ownList];
}

// The largest block is 4 GiB plus the overhead: computed in 64 bits, it cannot wrap.
uint64_t blockLength(uint32_t size) { return uint64_t(size) + ROALLOC_OVERHEAD; }

uint8_t* signatureOf(roBlockHeader* block) { return block->user + block->size; }

enum blockState { BLOCK_LIVE, BLOCK_RELEASED, BLOCK_UNKNOWN };

// A pointer the allocator never handed out is caught without reading in front of it when it is
// misaligned; otherwise the words where a header would be decide.
blockState stateOf(void* pointer, roBlockHeader*& block)
{
    block = nullptr;
    if (reinterpret_cast<uintptr_t>(pointer) % BLOCK_ALIGNMENT != 0)
        return BLOCK_UNKNOWN;
    roBlockHeader* candidate = static_cast<roBlockHeader*>(pointer) - 1;
    if (candidate->user != pointer || candidate->list >= LISTS)
        return BLOCK_UNKNOWN;
    block = candidate;
    if (candidate->magic == ROALLOC_MAGIC_LIVE)
        return BLOCK_LIVE;
    return candidate->magic == ROALLOC_MAGIC_RELEASED ? BLOCK_RELEASED : BLOCK_UNKNOWN;
}

void describe(roBlockHeader* block, uint32_t kind, uint32_t size, const char* file, uint32_t line,
              const char* function, uint32_t tag)
{
    block->user = reinterpret_cast<uint8_t*>(block + 1);
    block->kind = kind;
    block->size = size;
    block->function = function;
    block->file = file;
    block->line = line;
    block->tag = tag;
    block->magic = ROALLOC_MAGIC_LIVE;
    std::memcpy(signatureOf(block), signature, ROALLOC_SIGNATURE_SIZE);
}

// Under the list's lock.
void linkAtHead(blockList& list, roBlockHeader* block)
{
    block->list = uint32_t(&list - lists);
    block->sequence = std::max<uint64_t>(__rdtsc(), list.lastSequence + 1);
    list.lastSequence = block->sequence;
    block->prev = nullptr;
    block->next = list.head;
    if (list.head)
        list.head->prev = block;
    list.head = block;
}

// Under the list's lock.
void unlink(blockList& list, roBlockHeader* block)
{
    if (block->prev)
        block->prev->next = block->next;
    else
        list.head = block->next;
    if (block->next)
        block->next->prev = block->prev;
    block->prev = nullptr;
    block->next = nullptr;
}

roBlockHeader* leaveQuarantine(quarantine& q)
{
    roBlockHeader* block = q.blocks[q.oldest];
    q.bytes -= blockLength(block->size);
    q.oldest = (q.oldest + 1) % QUARANTINE_BLOCKS;
    --q.count;
    return block;
}

// Called with the list's lock held, which it releases: puts a block marked released into the list's
// quarantine and gives back to the heap, outside the lock, what leaves it.
void retireAndUnlock(blockList& list, roBlockHeader* block)
{
    quarantine& q = list.held;
    roBlockHeader* evicted[QUARANTINE_BLOCKS];
    uint32_t n = 0;
    if (q.count == QUARANTINE_BLOCKS)
        evicted[n++] = leaveQuarantine(q);
    q.blocks[(q.oldest + q.count) % QUARANTINE_BLOCKS] = block;
    ++q.count;
    q.bytes += blockLength(block->size);
    while (q.count > 1 && q.bytes > QUARANTINE_BYTES)
        evicted[n++] = leaveQuarantine(q);
    list.lock->unlock();
    for (uint32_t i = 0; i < n; ++i)
        tavrix::sys::heapFree(evicted[i]);
}

// Asks the heap up to HEAP_ATTEMPTS times. Once it has refused, the list's lock is held through every
// further pause and attempt; `locked` tells whether the caller holds it, on entry and on return.
template <class Attempt>
void* obtain(blockList& list, Attempt attempt, bool& locked)
{
    void* block = attempt();
    for (uint32_t i = 1; !block && i < HEAP_ATTEMPTS; ++i) {
        if (!locked) {
            list.lock->lock();
            locked = true;
        }
        tavrix::sys::heapRetryPause(HEAP_RETRY_PAUSE_MS);
        block = attempt();
    }
    return block;
}

const char* kindName(uint32_t kind)
{
    switch (kind) {
    case ROALLOC_KIND_ALLOC:
        return "alloc";
    case ROALLOC_KIND_REALLOC:
        return "realloc";
    case ROALLOC_KIND_STRDUP:
        return "strdup";
    default:
        return "unknown";
    }
}

const char* baseName(const char* path)
{
    const char* base = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\')
            base = p + 1;
    return base;
}

// The leak file is written as text: every line feed becomes CR LF.
__attribute__((format(printf, 2, 3))) void writeText(FILE* out, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? std::size_t(length) : 0, '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    tavrix::util::writeTextMode(out, text.data(), text.size());
}

} // namespace

// Logs at MEMMGR with "[Platform] " in front, then throws the message itself.
#define ROALLOC_FAIL(format, ...)                                                                          \
    do {                                                                                                   \
        PLATFORM_LOG(tavrix::util::LOG_MEMMGR, "[Platform] " format, __VA_ARGS__);                         \
        TAVRIX_FATAL(format, __VA_ARGS__);                                                                 \
    } while (0)

void* _roalloc(uint32_t size, const char* file, uint32_t line, const char* function, uint32_t tag)
{
    if (!initialised)
        TAVRIX_FATAL("%s:%u @ %s -> call to alloc() before subsystem has been initialized!\n", file, line, function);
    if (size == 0)
        ROALLOC_FAIL("%s:%u @ %s -> call to alloc() for 0 bytes!", file, line, function);
    size = std::max(size, ROALLOC_MIN_SIZE);
    const uint64_t length = blockLength(size);
    blockList& list = listOfThisThread();
    bool locked = false;
    void* block = obtain(list, [length] { return tavrix::sys::heapAlloc(length, BLOCK_ALIGNMENT); }, locked);
    if (!block) {
        list.lock->unlock();
        ROALLOC_FAIL("%s:%u @ %s -> Out of Memory - %" PRIu64 " Bytes (User Size: %u)\n", file, line, function,
                     length, size);
    }
    roBlockHeader* created = static_cast<roBlockHeader*>(block);
    describe(created, ROALLOC_KIND_ALLOC, size, file, line, function, tag);
    if (!locked)
        list.lock->lock();
    linkAtHead(list, created);
    list.lock->unlock();
    return created->user;
}

void _rofree(void* pointer, const char* file, uint32_t line, const char* function)
{
    if (!initialised)
        TAVRIX_FATAL("%s:%u @ %s -> call to free() before subsystem has been initialized!\n", file, line, function);
    if (!pointer)
        return;
    roBlockHeader* block;
    switch (stateOf(pointer, block)) {
    case BLOCK_RELEASED:
        ROALLOC_FAIL("%s:%u @ %s -> FREE, tried to free already freed block! (magic validation failed) UserPTR: " TAVRIX_PTR " \n",
                     file, line, function, ptrArg(pointer));
    case BLOCK_UNKNOWN:
        ROALLOC_FAIL("%s:%u @ %s -> FREE, unknown or corrupted block! - (magic validation failed) UserPTR: " TAVRIX_PTR " \n",
                     file, line, function, ptrArg(pointer));
    case BLOCK_LIVE:
        break;
    }
    if (std::memcmp(signatureOf(block), signature, ROALLOC_SIGNATURE_SIZE) != 0)
        ROALLOC_FAIL("%s:%u @ %s -> FREE (ptr: " TAVRIX_PTR ") Signature check failed, OVERFLOW!\n", file, line, function,
                     ptrArg(pointer));
    block->magic = ROALLOC_MAGIC_RELEASED;
    blockList& list = lists[block->list];
    list.lock->lock();
    unlink(list, block);
    retireAndUnlock(list, block);
}

void* _rorealloc(void* pointer, uint32_t size, const char* file, uint32_t line, const char* function, uint32_t tag)
{
    if (!initialised)
        TAVRIX_FATAL("%s:%u @ %s -> call to realloc() before subsystem has been initialized!\n", file, line, function);
    if (!pointer) {
        if (size == 0)
            ROALLOC_FAIL("%s:%u @ %s -> invalid call, oldptr = NULL newsz = 0\n", file, line, function);
        return _roalloc(size, file, line, function, tag);
    }
    if (size == 0) {
        _rofree(pointer, file, line, function);
        return nullptr;
    }
    roBlockHeader* block;
    switch (stateOf(pointer, block)) {
    case BLOCK_RELEASED:
        ROALLOC_FAIL("%s:%u @ %s -> REALLOC (oldptr: " TAVRIX_PTR ") invalid address, magic validation failed! BLOCK IS ALREADY FREED()!! (Requested new size: %u)\n",
                     file, line, function, ptrArg(pointer), size);
    case BLOCK_UNKNOWN:
        ROALLOC_FAIL("%s:%u @ %s -> REALLOC (oldptr: " TAVRIX_PTR ") invalid address, magic validation failed! (Requested new size: %u)\n",
                     file, line, function, ptrArg(pointer), size);
    case BLOCK_LIVE:
        break;
    }
    if (std::memcmp(signatureOf(block), signature, ROALLOC_SIGNATURE_SIZE) != 0)
        ROALLOC_FAIL("%s:%u @ %s -> REALLOC (oldptr: " TAVRIX_PTR ") Signature check failed, OVERFLOW! (Requested new size: %u)\n",
                     file, line, function, ptrArg(pointer), size);
    if (size <= block->size)
        return pointer;

    const uint32_t oldSize = block->size;
    const uint64_t length = blockLength(size);
    block->magic = ROALLOC_MAGIC_RELEASED;
    blockList& list = lists[block->list];
    list.lock->lock();
    unlink(list, block);
    bool locked = true;
    void* grown =
        obtain(list, [block, length] { return tavrix::sys::heapRealloc(block, length, BLOCK_ALIGNMENT); }, locked);
    if (!grown) {
        // The old block stays off the list, marked released, until the quarantine gives it back.
        retireAndUnlock(list, block);
        ROALLOC_FAIL("%s:%u @ %s -> REALLOC [%u => %u Bytes] OUT OF MEMORY, (oldptr: " TAVRIX_PTR ")\n", file, line,
                     function, oldSize, size, ptrArg(pointer));
    }
    roBlockHeader* moved = static_cast<roBlockHeader*>(grown);
    describe(moved, ROALLOC_KIND_REALLOC, size, file, line, function, tag);
    linkAtHead(list, moved);
    list.lock->unlock();
    return moved->user;
}

char* _rostrdup(const char* str, const char* file, uint32_t line, const char* function, uint32_t tag)
{
    if (!initialised)
        TAVRIX_FATAL("%s:%u @ %s -> call to rostrdup() before subsystem has been initialized!\n", file, line, function);
    const uint32_t n = uint32_t(std::strlen(str) + 1);
    char* copy = static_cast<char*>(_roalloc(n, file, line, function, tag));
    std::memcpy(copy, str, n);
    (reinterpret_cast<roBlockHeader*>(copy) - 1)->kind = ROALLOC_KIND_STRDUP;
    return copy;
}

void* roalloc_rbdb(uint32_t size) { return _roalloc(size, __FILE__, __LINE__, TAVRIX_FUNC, 0); }

void rofree_rbdb(void* pointer) { _rofree(pointer, __FILE__, __LINE__, TAVRIX_FUNC); }

namespace tavrix {

void* roAlloc::operator new(std::size_t size)
{
    const uint32_t caller = uint32_t(reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
    return _roalloc(uint32_t(size), __FILE__, __LINE__, TAVRIX_FUNC, caller);
}

void roAlloc::operator delete(void* pointer) { _rofree(pointer, __FILE__, __LINE__, TAVRIX_FUNC); }

} // namespace tavrix

void roalloc_init()
{
    if (initialised)
        return;
    tavrix::sys::heapKeepLargeBlocks();
    for (blockList& list : lists) {
        list.lock = new tavrix::util::mutex();
        list.head = nullptr;
        list.lastSequence = 0;
        list.held = {};
    }
    for (uint32_t i = 0; i < ROALLOC_SIGNATURE_SIZE; ++i)
        signature[i] = uint8_t(13 * i - 7);
    initialised = 1;
}

static void report_memleak(FILE* leakFile, roBlockHeader* block)
{
    const char* kind = kindName(block->kind);
    const char* base = baseName(block->file);
    PLATFORM_LOG(tavrix::util::LOG_MEMMGR, "[Platform] Memory Leak [" TAVRIX_PTR "]:  %u Bytes, Allocated thru %s in Proc '%s' -> %s:%u\n",
                 ptrArg(block->user), block->size, kind, block->function, base, block->line);
    // The text ends at its NUL, or at the recorded size when the NUL was overwritten.
    const int textLength = int(std::min<uint32_t>(block->size, INT32_MAX));
    const char* text = reinterpret_cast<const char*>(block->user);
    if (block->kind == ROALLOC_KIND_STRDUP)
        PLATFORM_LOG(tavrix::util::LOG_MEMMGR, "[Platform] Memory Leak [" TAVRIX_PTR "]:  String Contents '%.*s'\n",
                     ptrArg(block->user), textLength, text);
    if (!leakFile)
        return;
    writeText(leakFile, "Memory Leak [" TAVRIX_PTR "]:  %u Bytes, Allocated thru %s in Proc '%s' -> %s:%u\n",
              ptrArg(block->user), block->size, kind, block->function, base, block->line);
    if (block->kind == ROALLOC_KIND_STRDUP)
        writeText(leakFile, "Memory Leak [" TAVRIX_PTR "]:  String Contents '%.*s'\n", ptrArg(block->user), textLength,
                  text);
}

// Every block still listed, newest first; the lists are left empty.
static std::vector<roBlockHeader*> takeLeaks()
{
    std::vector<roBlockHeader*> leaks;
    for (blockList& list : lists) {
        for (roBlockHeader* block = list.head; block; block = block->next)
            leaks.push_back(block);
        list.head = nullptr;
    }
    std::sort(leaks.begin(), leaks.end(),
              [](const roBlockHeader* a, const roBlockHeader* b) { return a->sequence > b->sequence; });
    return leaks;
}

// Runs on the main thread after every thread that allocates has ended, so the lists are walked unlocked.
void roalloc_final()
{
    if (!initialised)
        return;
    initialised = 0;
    const std::vector<roBlockHeader*> leaks = takeLeaks();
    if (!leaks.empty()) {
        FILE* leakFile = std::fopen("memleak.log", "wb");
        uint64_t leakedBytes = 0;
        for (roBlockHeader* block : leaks) {
            report_memleak(leakFile, block);
            leakedBytes += block->size;
            tavrix::sys::heapFree(block);
        }
        const uint32_t count = uint32_t(leaks.size());
        PLATFORM_LOG(tavrix::util::LOG_MEMMGR, "[Platform] Memory Leak Statistics:\n");
        PLATFORM_LOG(tavrix::util::LOG_MEMMGR, "[Platform]  Leaks Total: %u\n", count);
        PLATFORM_LOG(tavrix::util::LOG_MEMMGR, "[Platform]  Leaked Bytes: %" PRIu64 "\n", leakedBytes);
        if (leakFile) {
            writeText(leakFile, "\nMemory Leak Statistics:\n Leaks Total: %u\n Leaked Bytes: %" PRIu64 "\n", count,
                      leakedBytes);
            std::fclose(leakFile);
        }
    }
    for (blockList& list : lists) {
        while (list.held.count > 0)
            tavrix::sys::heapFree(leaveQuarantine(list.held));
        delete list.lock;
        list.lock = nullptr;
    }
}
