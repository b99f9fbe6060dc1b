#include "client/fscache.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "client/clientlogger.h"
#include "client/cvar.h"
#include "client/vfs.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/posix/files.h"
#include "platformlib/util/littleendian.h"
#include "platformlib/util/crc32.h"
#include "platformlib/util/exception.h"
#include "platformlib/util/hex.h"
#include "platformlib/util/sha256.h"


namespace tavrix::fsCache {

namespace {

// The reader hands out size + 1 bytes, so the largest entry leaves room for the NUL.
constexpr uint32_t MAX_DATA_SIZE = UINT32_MAX - 1;

uint8_t disabled = 0;

struct entryHead {
    char magic[8];
    uint16_t version;
    uint16_t flags;
    uint32_t size;
    uint32_t crc;
    uint32_t contentVersion;
};

using util::putU16;
using util::putU32;
using util::getU16;
using util::getU32;

void writeHead(const entryHead& head, uint8_t (&raw)[HEAD_SIZE])
{
    std::memset(raw, 0, HEAD_SIZE);
    std::memcpy(raw, head.magic, sizeof(head.magic));
    putU16(raw + 8, head.version);
    putU16(raw + 10, head.flags);
    putU32(raw + 12, head.size);
    putU32(raw + 16, head.crc);
    putU32(raw + 36, head.contentVersion);
}

entryHead readHead(const uint8_t (&raw)[HEAD_SIZE])
{
    entryHead head;
    std::memcpy(head.magic, raw, sizeof(head.magic));
    head.version = getU16(raw + 8);
    head.flags = getU16(raw + 10);
    head.size = getU32(raw + 12);
    head.crc = getU32(raw + 16);
    head.contentVersion = getU32(raw + 36);
    return head;
}

// A header we would not have written for this file, one gone stale with the content version, or one whose
// data is larger than the caller takes.
bool isUsable(const entryHead& head, int64_t fileLength, uint32_t maxSize)
{
    if (std::memcmp(head.magic, HEAD_MAGIC, sizeof(head.magic)) != 0 || head.version != HEAD_VERSION)
        return false;
    if ((head.flags & FLAG_VERSION_DEPENDENT) && head.contentVersion != vfs::getLocalContentVersion())
        return false;
    // The size is only trusted once the file's length agrees with it: nothing is allocated from a bare claim.
    // A sparse file can be as long as it claims, so the caller's bound comes first.
    return head.size <= std::min(maxSize, MAX_DATA_SIZE) && fileLength == int64_t(HEAD_SIZE) + int64_t(head.size);
}

// The sixteen folders, each reached from the current directory without following a link. A link on the way
// is not created through: the cache stays off for this run (false). A folder that can be neither made nor
// reached through a link is fatal.
bool makeFolders()
{
    for (uint32_t digit = 0; digit < 16; ++digit) {
        char folder[16];
        std::snprintf(folder, sizeof(folder), "./cache/%1x/", digit);
        sys::parentDirectory opened;
        uint32_t failedLength = 0;
        if (opened.open(folder, &failedLength))
            continue;
        char refused[16];
        std::snprintf(refused, sizeof(refused), "%.*s", int(failedLength), folder);
        // Only asked for when the folder could not be reached: it makes nothing where a link stands.
        if (!sys::makeDirectory(refused))
            TAVRIX_FATAL("fsCache Initialization Error\n\nDirectory Creation Failed.\n");
        CLIENT_LOG(util::LOG_WARN, "fsCache: '%s' is a symbolic link or cannot be opened - nothing is cached through it, the cache is off\n", refused);
        return false;
    }
    return true;
}

} // namespace

void init()
{
    cvar::initialize("fsCache.disabled", 0, 1);
    disabled = cvar::getI32("fsCache.disabled") == 1;
    if (disabled) {
        CLIENT_LOG(util::LOG_INFO, "fsCache: DISABLED - Skipping Initialization.\n");
        return;
    }

    if (!makeFolders()) {
        disabled = 1;
        return;
    }

    if (const uint32_t removed = sys::removeLeftoverTemporaries("./cache"))
        CLIENT_LOG(util::LOG_INFO, "fsCache: removed %u temporary files left by an interrupted write\n", removed);

    cvar::initialize("fsCache.lastContentVersion", 0, 1);
    const uint32_t local = vfs::getLocalContentVersion();
    if (cvar::getInt("fsCache.lastContentVersion") != int64_t(local)) {
        CLIENT_LOG(util::LOG_INFO, "fsCache: Initialization -> Content Version Changed\n");
        cvar::set("fsCache.lastContentVersion", int64_t(local));
    }
}

void final() {}

void put(const char* key, const void* data, uint32_t size, bool versionDependent)
{
    if (disabled || size == 0 || size > MAX_DATA_SIZE)
        return;
    char path[PATH_BUFFER_SIZE];
    makePath(key, path);

    entryHead head;
    std::memcpy(head.magic, HEAD_MAGIC, sizeof(head.magic));
    head.version = HEAD_VERSION;
    head.flags = versionDependent ? FLAG_VERSION_DEPENDENT : 0;
    head.size = size;
    head.crc = crc32_update(0, data, size);
    head.contentVersion = vfs::getLocalContentVersion();
    uint8_t raw[HEAD_SIZE];
    writeHead(head, raw);
    // Written beside the entry and renamed over it: a failed store never leaves half an entry. A folder
    // that is a symbolic link is not written through.
    sys::parentDirectory folder;
    uint32_t failedLength = 0;
    if (folder.open(path, &failedLength))
        folder.writeFileAtomic(raw, HEAD_SIZE, data, size, false);
}

void* get(const char* key, uint32_t* size, uint32_t maxSize)
{
    if (disabled)
        return nullptr;
    char path[PATH_BUFFER_SIZE];
    makePath(key, path);

    sys::inFile file;
    if (!file.open(path))
        return nullptr;
    // A file too short for its header is left alone.
    const int64_t fileLength = file.length();
    uint8_t raw[HEAD_SIZE];
    if (fileLength < 0 || !file.readFull(raw, HEAD_SIZE))
        return nullptr;

    const entryHead head = readHead(raw);
    if (!isUsable(head, fileLength, maxSize)) {
        file.close();
        sys::removeFile(path);
        return nullptr;
    }

    uint8_t* data = static_cast<uint8_t*>(roalloc(head.size + 1));
    if (!file.readFull(data, head.size)) {
        file.close();
        sys::removeFile(path);
        rofree(data);
        return nullptr;
    }
    file.close();
    if (crc32_update(0, data, head.size) != head.crc) {
        rofree(data);
        CLIENT_LOG(util::LOG_ERROR, "fsCache::get(%s) - file corrupted\n", path);
        sys::removeFile(path);
        return nullptr;
    }
    data[head.size] = 0;
    *size = head.size;
    return data;
}

void flush()
{
    flushVersionDependentCache();
    flushVersionIndependentCache();
}

void flushVersionDependentCache()
{
    CLIENT_LOG(util::LOG_INFO, "fsCache: Flushing Version Dependent Cache.\n");
    CLIENT_LOG(util::LOG_ERROR, "fsCache: @TODO - Implement Depnedent Cache Flush\n");
}

void flushVersionIndependentCache()
{
    CLIENT_LOG(util::LOG_INFO, "fsCache: Flushing Version Independent Cache.\n");
    CLIENT_LOG(util::LOG_ERROR, "fsCache: @TODO - Implement Independent Flush\n");
}

void makePath(const char* key, char (&path)[PATH_BUFFER_SIZE])
{
    const uint32_t length = uint32_t(std::strlen(key));
    const uint32_t crc = crc32_update(0, key, length);
    sha256Context context;
    uint8_t digest[32];
    sha256_starts(&context);
    sha256_update(&context, key, length);
    sha256_finish(&context, digest);
    char hex[65];
    util::bytesToHex(digest, hex, 32);
    hex[64] = '\0';
    std::snprintf(path, PATH_BUFFER_SIZE, "./cache/%1x/%s_%8x", crc & 0xF, hex, crc);
}

} // namespace tavrix::fsCache
