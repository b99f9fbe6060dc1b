#pragma once
// Derived data kept on disk under ./cache/ between runs. An entry is one file named after hashes of its key:
// a 40-byte header, then the data. Entries that depend on the content version go stale when it changes;
// stale or damaged entries are deleted when they are read. fsCache.disabled = 1 turns every call into a no-op.
#include <cstdint>

namespace tavrix::fsCache {

// The entry header, stored little-endian field by field.
constexpr uint32_t HEAD_SIZE = 40;
constexpr char HEAD_MAGIC[8] = "TVRXTMP";
constexpr uint16_t HEAD_VERSION = 1;
constexpr uint16_t FLAG_VERSION_DEPENDENT = 0x8000;

// Room for "./cache/%1x/%s_%8x" with its NUL.
constexpr uint32_t PATH_BUFFER_SIZE = 84;

// After the content store's init: the local content version is known by then. Makes ./cache/ and its
// sixteen folders; where one of them is a symbolic link nothing is made through it and the cache stays off.
void init();
void final();

// Stores a copy of the data under the key, replacing the entry whole. Nothing is stored for size 0, and a
// failed store leaves the previous entry or none.
void put(const char* key, const void* data, uint32_t size, bool versionDependent);
// A new tracking-allocator buffer of size + 1 bytes, NUL after the data, that the caller frees; null when
// there is no usable entry. An entry holding more than maxSize bytes is not usable: nothing is allocated
// or read for it.
void* get(const char* key, uint32_t* size, uint32_t maxSize);

void flush();
void flushVersionDependentCache();
void flushVersionIndependentCache();

// The entry's path: the key's CRC-32 low digit as the folder, its SHA-256 and its CRC-32 (space-padded to
// eight characters) as the name.
void makePath(const char* key, char (&path)[PATH_BUFFER_SIZE]);

} // namespace tavrix::fsCache
