#pragma once
// The tracking allocator: every block records its caller and carries a guard signature.
#include <cstddef>
#include <cstdint>

#include "platformlib/util/funcname.h"

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
