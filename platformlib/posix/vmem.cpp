#include "platformlib/posix/vmem.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace tavrix::sys {

namespace {

uint32_t errorCodeOf(int error, bool largePages)
{
    switch (error) {
    case ENOMEM:
        // Out of reserved huge pages is a shortage of a system resource, not of memory.
        return largePages ? VMEM_ERROR_NO_SYSTEM_RESOURCES : VMEM_ERROR_NOT_ENOUGH_MEMORY;
    case EAGAIN:
        return VMEM_ERROR_NO_SYSTEM_RESOURCES;
    case EPERM:
        return VMEM_ERROR_PRIVILEGE_NOT_HELD;
    case EINVAL:
        return VMEM_ERROR_INVALID_PARAMETER;
    default:
        return VMEM_ERROR_GEN_FAILURE;
    }
}

void* systemCommit(uint64_t bytes, bool largePages, uint32_t* error)
{
    const int flags = MAP_PRIVATE | MAP_ANONYMOUS | (largePages ? MAP_HUGETLB : 0);
    void* base = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, flags, -1, 0);
    if (base != MAP_FAILED)
        return base;
    *error = errorCodeOf(errno, largePages);
    return nullptr;
}

// The huge-page size, but only when huge pages have been set aside (HugePages_Total above 0).
uint32_t systemLargePageMinimum()
{
    FILE* meminfo = std::fopen("/proc/meminfo", "r");
    if (!meminfo)
        return 0;
    unsigned long total = 0;
    unsigned long sizeKb = 0;
    char line[256];
    while (std::fgets(line, sizeof(line), meminfo)) {
        std::sscanf(line, "HugePages_Total: %lu", &total);
        std::sscanf(line, "Hugepagesize: %lu kB", &sizeKb);
    }
    std::fclose(meminfo);
    if (total == 0 || sizeKb == 0 || sizeKb > UINT32_MAX / 1024)
        return 0;
    return static_cast<uint32_t>(sizeKb * 1024);
}

const vmemBackend systemBackend{systemCommit, systemLargePageMinimum};
std::atomic<const vmemBackend*> backend{&systemBackend};

// Every filler stores the same value, so the cache needs no lock.
std::atomic<int64_t> pageSize{-1};

} // namespace

uint32_t getPageSize()
{
    int64_t size = pageSize.load(std::memory_order_relaxed);
    if (size < 0) {
        size = sysconf(_SC_PAGESIZE);
        pageSize.store(size, std::memory_order_relaxed);
    }
    return static_cast<uint32_t>(size);
}

uint32_t getLargePageMinimum()
{
    return backend.load()->largePageMinimum();
}

void* vmemCommit(uint64_t bytes, bool largePages, uint32_t* error)
{
    return backend.load()->commit(bytes, largePages, error);
}

void vmemRelease(void* base, uint64_t bytes)
{
    munmap(base, bytes);
}

const vmemBackend& vmemSystemBackend()
{
    return systemBackend;
}

const vmemBackend* vmemSetBackend(const vmemBackend* replacement)
{
    return backend.exchange(replacement ? replacement : &systemBackend);
}

} // namespace tavrix::sys
