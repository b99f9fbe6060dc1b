#pragma once
// The tracking allocator: every block records its caller and carries a guard signature.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platformlib/util/funcname.h"

// In front of every block's bytes. With 64-bit pointers the fields up to `reserved` take 68 bytes; the header
// is 80 so that the caller's bytes behind it stay 16-byte aligned, and the room left holds which list the
// block is on and its place in the order of allocation. Nothing stores this layout.
struct alignas(16) roBlockHeader {
    uint8_t* user;
    roBlockHeader* prev;
    roBlockHeader* next;
    uint32_t kind;
    uint32_t size;
    const char* function;
    const char* file;
    uint32_t line;
    uint32_t tag;
    uint32_t magic;
    uint8_t reserved[8];
    uint32_t list;
    uint64_t sequence;
};

// How a block was last made.
enum roBlockKind : uint32_t {
    ROALLOC_KIND_ALLOC = 0,
    ROALLOC_KIND_REALLOC = 1,
    ROALLOC_KIND_STRDUP = 2,
};

constexpr uint32_t ROALLOC_MAGIC_LIVE = 0xDEADBEEF;
constexpr uint32_t ROALLOC_MAGIC_RELEASED = 0xDEADDEAD;
// Smaller requests are raised to this recorded size.
constexpr uint32_t ROALLOC_MIN_SIZE = 128;
constexpr uint32_t ROALLOC_SIGNATURE_SIZE = 16;
// What header and signature add to every block.
constexpr uint32_t ROALLOC_OVERHEAD = sizeof(roBlockHeader) + ROALLOC_SIGNATURE_SIZE;

void* _roalloc(uint32_t size, const char* file, uint32_t line, const char* function, uint32_t tag);
void _rofree(void* pointer, const char* file, uint32_t line, const char* function);
void* _rorealloc(void* pointer, uint32_t size, const char* file, uint32_t line, const char* function, uint32_t tag);
char* _rostrdup(const char* str, const char* file, uint32_t line, const char* function, uint32_t tag);

void* roalloc_rbdb(uint32_t size);
void rofree_rbdb(void* pointer);

void roalloc_init();
void roalloc_final();

namespace tavrix {
// Classes deriving from it get their objects from the tracking allocator.
class roAlloc {
public:
    static void* operator new(std::size_t size);
    static void operator delete(void* pointer);
};
} // namespace tavrix

#define roalloc(size) _roalloc((size), __FILE__, __LINE__, TAVRIX_FUNC, 0)
#define rofree(pointer) _rofree((pointer), __FILE__, __LINE__, TAVRIX_FUNC)
#define rorealloc(pointer, size) _rorealloc((pointer), (size), __FILE__, __LINE__, TAVRIX_FUNC, 0)
#define rostrdup(str) _rostrdup((str), __FILE__, __LINE__, TAVRIX_FUNC, 0)

namespace tavrix {
// The owner of a tracking-allocator block: gives it back with rofree when it goes.
struct roFree {
    void operator()(void* pointer) const { rofree(pointer); }
};
template <class T>
using roPtr = std::unique_ptr<T, roFree>;
} // namespace tavrix
