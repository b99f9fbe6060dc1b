#pragma once
// Pointers in log lines and reports print as upper-case hexadecimal digits without prefix, zero-padded to
// the pointer's width: use TAVRIX_PTR in the format and ptrArg() for the argument.
#include <cinttypes>
#include <cstdint>

#define TAVRIX_PTR "%016" PRIXPTR

namespace tavrix::util {
inline uintptr_t ptrArg(const void* p) { return reinterpret_cast<uintptr_t>(p); }
} // namespace tavrix::util
