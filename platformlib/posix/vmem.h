#pragma once
// Committed virtual memory for the element pools: whole pages straight from the system, large pages when
// the system has them. Failures carry the Windows error codes the pools' retry policy acts on.
#include <cstdint>

namespace tavrix::sys {

constexpr uint32_t VMEM_ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr uint32_t VMEM_ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t VMEM_ERROR_GEN_FAILURE = 31;
constexpr uint32_t VMEM_ERROR_PRIVILEGE_NOT_HELD = 1314;
constexpr uint32_t VMEM_ERROR_NO_SYSTEM_RESOURCES = 1450;

// The normal page size, asked of the system once.
uint32_t getPageSize();
// The large-page size when the system has large pages set aside, else 0.
uint32_t getLargePageMinimum();

// Commits `bytes` of read-write memory that reads as zero; with largePages the bytes are a multiple of
// the large-page minimum. Null with *error set when the system refuses.
void* vmemCommit(uint64_t bytes, bool largePages, uint32_t* error);
// Gives back a whole commit; bytes as committed.
void vmemRelease(void* base, uint64_t bytes);

// What the commit and the large-page query reach: the system, or a test's script of results.
struct vmemBackend {
    void* (*commit)(uint64_t bytes, bool largePages, uint32_t* error);
    uint32_t (*largePageMinimum)();
};
const vmemBackend& vmemSystemBackend();
// Installs a backend (null restores the system's) and returns the one it replaces. A backend's successes
// must be commits of the system backend of exactly `bytes`, since vmemRelease gives them back.
const vmemBackend* vmemSetBackend(const vmemBackend* backend);

} // namespace tavrix::sys
