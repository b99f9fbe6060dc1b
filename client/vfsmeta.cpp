// The content store's two files under data/meta/ (the meta database and the local content version) and
// the rebuild of both from the files under data/. Every integer is little-endian, written byte by byte.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "client/clientlogger.h"
#include "client/vfslocal.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/posix/files.h"
#include "platformlib/util/littleendian.h"
#include "platformlib/util/crc32.h"
#include "platformlib/util/exception.h"
#include "platformlib/util/hex.h"
#include "platformlib/util/sha256.h"

namespace tavrix::vfs {

namespace {

constexpr const char* DB_PATH = "data/meta/contentDB";
constexpr const char* VERSION_PATH = "data/meta/contentVersion";
constexpr const char* META_FOLDER = "data/meta";
constexpr const char* LOCK_PATH = "data/meta/lock";
// A folder walk that stops within this many bytes stopped at data/ itself.
constexpr uint32_t DATA_FOLDER_LENGTH = 4;

constexpr uint32_t HEAD_BYTES = 2;
constexpr uint32_t NODE_BYTES = 192;
constexpr uint32_t FOOT_BYTES = 20;
constexpr uint32_t VERSION_BYTES = 18;
constexpr uint16_t FILE_VERSION = 1;
constexpr uint32_t NODE_MAGIC_BASE = 14496530;
constexpr uint32_t NO_LAST_NODE = 0xFFFFFFFE;
constexpr uint32_t NODE_PATH_BYTES = 128;
constexpr uint32_t REINDEX_CHUNK = 8192;
// 1970-01-01 as a Windows file time.
constexpr uint64_t FILETIME_UNIX_EPOCH = 0x019DB1DED53E8000;

// Node fields.
constexpr uint32_t NODE_MAGIC = 4;
constexpr uint32_t NODE_PATH = 8;
constexpr uint32_t NODE_TIME = 136;
constexpr uint32_t NODE_SIZE = 144;
constexpr uint32_t NODE_SHA256 = 148;
constexpr uint32_t NODE_CRC32 = 180;
constexpr uint32_t NODE_VERSION = 184;
constexpr uint32_t NODE_CRC = 188;
// Trailer fields.
constexpr uint32_t FOOT_VERSION = 0;
constexpr uint32_t FOOT_TIME = 4;
constexpr uint32_t FOOT_LAST_NODE = 12;
constexpr uint32_t FOOT_CRC = 16;
// Version file fields.
constexpr uint32_t VERSION_VALUE = 2;
constexpr uint32_t VERSION_TIME = 6;
constexpr uint32_t VERSION_CRC = 14;

struct metaState {
    uint32_t localContentVersion = 0;
    // As read at start or last saved: the version file is written only when the local one differs.
    uint32_t savedContentVersion = 0;
    int32_t reindexProgress = 0;
    // Held from init to final: one client at a time writes the folder.
    sys::fileLock folderLock;
};
metaState meta;

using util::putU16;
using util::putU32;
using util::putI64;
using util::getU16;
using util::getU32;
using util::getI64;

// Whether the CRC-32 of the bytes before `crcAt` is the one stored there.
bool crcHolds(const uint8_t* bytes, uint32_t crcAt) { return crc32_update(0, bytes, crcAt) == getU32(bytes + crcAt); }

void sealCrc(uint8_t* bytes, uint32_t crcAt) { putU32(bytes + crcAt, crc32_update(0, bytes, crcAt)); }

void buildFoot(uint8_t* foot, uint32_t contentVersion, uint32_t lastNode)
{
    putU32(foot + FOOT_VERSION, contentVersion);
    putI64(foot + FOOT_TIME, int64_t(std::time(nullptr)));
    putU32(foot + FOOT_LAST_NODE, lastNode);
    sealCrc(foot, FOOT_CRC);
}

// The record's values in a node; the path and magic stay as they are.
void putRecordFields(uint8_t* node, const fileDataINFO* record)
{
    putI64(node + NODE_TIME, record->time);
    putU32(node + NODE_SIZE, record->size);
    std::memcpy(node + NODE_SHA256, record->sha256, 32);
    putU32(node + NODE_CRC32, record->crc32);
    putU32(node + NODE_VERSION, record->contentVersion);
    sealCrc(node, NODE_CRC);
}

// A record for a node, or null when its path holds no NUL (then the name would run into the next fields).
fileDataINFO* recordOfNode(const uint8_t* node, uint32_t offset)
{
    const char* path = reinterpret_cast<const char*>(node + NODE_PATH);
    const void* end = std::memchr(path, '\0', NODE_PATH_BYTES);
    if (!end)
        return nullptr;
    fileDataINFO* record = newRecord(path, uint32_t(static_cast<const char*>(end) - path));
    record->nodeOffset = offset;
    record->time = getI64(node + NODE_TIME);
    record->size = getU32(node + NODE_SIZE);
    std::memcpy(record->sha256, node + NODE_SHA256, 32);
    record->crc32 = getU32(node + NODE_CRC32);
    record->contentVersion = getU32(node + NODE_VERSION);
    return record;
}

struct fileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
typedef std::unique_ptr<FILE, fileCloser> filePtr;

// The meta database as a reindex pass keeps it open for its appends, on the thread that runs the pass:
// the trailer is read and checked at the first append, and the next node's offset is known from then on.
struct heldDatabase {
    bool holding = false;
    filePtr file;
    uint32_t nextNode = 0;
};
thread_local heldDatabase held;

// Holds the meta database open from the first append until the pass ends.
struct reindexPass {
    reindexPass() { held.holding = true; }
    ~reindexPass()
    {
        held.holding = false;
        held.file.reset();
    }
    reindexPass(const reindexPass&) = delete;
    reindexPass& operator=(const reindexPass&) = delete;
};

// The meta files are reached as downloads are: no folder on the way and no file at the end may be a link,
// so nothing is read or written elsewhere through one. Missing folders are made on the way.
bool reachFolder(sys::parentDirectory& folder, const char* path)
{
    uint32_t failedLength;
    return folder.open(path, &failedLength);
}

FILE* openMetaStream(const char* path, sys::streamMode mode)
{
    sys::parentDirectory folder;
    return reachFolder(folder, path) ? folder.openStream(mode) : nullptr;
}

// The folder of a file in data/meta/; fatal when data/ or data/meta/ cannot be made, or is a link.
void openMetaFolder(sys::parentDirectory& folder, const char* path)
{
    uint32_t failedLength;
    if (folder.open(path, &failedLength))
        return;
    if (failedLength <= DATA_FOLDER_LENGTH)
        TAVRIX_FATAL("VFS Error\n\nCould not create Folder ./data/");
    TAVRIX_FATAL("VFS Error\n\nCould not create Folder ./data/meta/");
}

} // namespace

void lockContentFolder()
{
    sys::parentDirectory folder;
    openMetaFolder(folder, LOCK_PATH);
    switch (meta.folderLock.take(folder)) {
    case sys::LOCK_TAKEN:
        return;
    case sys::LOCK_BUSY:
        TAVRIX_FATAL("VFS Error\n\nAnother client uses this folder.\nOnly one client at a time can run in a folder.\n");
    case sys::LOCK_FAILED:
        break;
    }
    TAVRIX_FATAL("VFS Error\n\nCould not lock data/meta/lock\n");
}

void unlockContentFolder() { meta.folderLock.release(); }

uint32_t getLocalContentVersion() { return meta.localContentVersion; }

void setLocalContentVersion(uint32_t version) { meta.localContentVersion = version; }

void readLocalContentVersion()
{
    sys::parentDirectory folder;
    openMetaFolder(folder, VERSION_PATH);
    sys::inFile file;
    if (!folder.openForReading(file)) {
        meta.localContentVersion = 0;
        meta.savedContentVersion = 0;
        CLIENT_LOG(util::LOG_INFO, "vfs: data/meta/contentVersion does not exist\n");
        return;
    }
    uint8_t bytes[VERSION_BYTES];
    if (!file.readFull(bytes, VERSION_BYTES)) {
        CLIENT_LOG(util::LOG_ERROR, "vfs: failed to read data/meta/contentVersion\n");
        return;
    }
    file.close();
    const uint32_t computed = crc32_update(0, bytes, VERSION_CRC);
    const uint32_t stored = getU32(bytes + VERSION_CRC);
    if (computed == stored) {
        meta.localContentVersion = getU32(bytes + VERSION_VALUE);
        meta.savedContentVersion = meta.localContentVersion;
        return;
    }
    CLIENT_LOG(util::LOG_ERROR, "vfs: data/meta/contentVersion corrupted (%x != %x)\n", computed, stored);
    meta.localContentVersion = 0;
    meta.savedContentVersion = 0;
}

void saveLocalContentVersion()
{
    if (meta.localContentVersion == meta.savedContentVersion)
        return;
    uint8_t bytes[VERSION_BYTES];
    putU16(bytes, FILE_VERSION);
    putU32(bytes + VERSION_VALUE, meta.localContentVersion);
    putI64(bytes + VERSION_TIME, int64_t(std::time(nullptr)));
    sealCrc(bytes, VERSION_CRC);
    sys::parentDirectory folder;
    const sys::writeResult written = reachFolder(folder, VERSION_PATH)
                                         ? folder.writeFileAtomic(bytes, VERSION_BYTES, nullptr, 0, true)
                                         : sys::WRITE_OPEN_FAILED;
    switch (written) {
    case sys::WRITE_OPEN_FAILED:
        CLIENT_LOG(util::LOG_ERROR, "vfs: failed to open data/meta/contentVersion for writing.\n");
        break;
    case sys::WRITE_FAILED:
        CLIENT_LOG(util::LOG_ERROR, "vfs: can't write to data/meta/contentVersion\n");
        break;
    case sys::WRITE_DONE:
        break;
    }
}

bool loadMetaData()
{
    sys::parentDirectory folder;
    sys::inFile file;
    if (!reachFolder(folder, DB_PATH) || !folder.openForReading(file)) {
        CLIENT_LOG(util::LOG_ERROR, "data/meta/contentDB: faild to open file\n");
        return false;
    }
    uint8_t head[HEAD_BYTES];
    if (!file.readFull(head, HEAD_BYTES)) {
        CLIENT_LOG(util::LOG_ERROR, "data/meta/contentDB: failed to read header\n");
        return false;
    }
    if (getU16(head) != FILE_VERSION) {
        CLIENT_LOG(util::LOG_ERROR, "data/meta/contentDB: unsupported file-version %u\n", uint32_t(getU16(head)));
        return false;
    }
    if (!file.seek(-int64_t(FOOT_BYTES), SEEK_END)) {
        CLIENT_LOG(util::LOG_ERROR, "data/meta/contentDB: seek operation failed\n");
        return false;
    }
    uint8_t foot[FOOT_BYTES];
    if (!file.readFull(foot, FOOT_BYTES)) {
        CLIENT_LOG(util::LOG_ERROR, "data/meta/contentDB: read operation failed (f)\n");
        return false;
    }
    if (!crcHolds(foot, FOOT_CRC)) {
        CLIENT_LOG(util::LOG_ERROR, "data/meta/contentDB: file corrupted\n");
        return false;
    }
    if (!file.seek(HEAD_BYTES, SEEK_SET)) {
        CLIENT_LOG(util::LOG_ERROR, "data/meta/contentDB: seek operation failed (ah)\n");
        return false;
    }
    const uint32_t lastNode = getU32(foot + FOOT_LAST_NODE);
    uint32_t count = 0;
    for (uint32_t offset = HEAD_BYTES;; offset += NODE_BYTES) {
        uint8_t node[NODE_BYTES];
        if (!file.readFull(node, NODE_BYTES)) {
            CLIENT_LOG(util::LOG_ERROR, "data/meta/contentDB: read failed (n)\n");
            return false;
        }
        if (!crcHolds(node, NODE_CRC)) {
            CLIENT_LOG(util::LOG_ERROR, "data/meta/contentDB: file corrupted (%u)\n", offset);
            return false;
        }
        if (getU32(node + NODE_MAGIC) + NODE_MAGIC_BASE != offset) {
            CLIENT_LOG(util::LOG_ERROR, "data/meta/contentDB: file corrupted (%u) [M]\n", offset);
            return false;
        }
        roPtr<fileDataINFO> record(recordOfNode(node, offset));
        if (!record) {
            CLIENT_LOG(util::LOG_ERROR, "data/meta/contentDB: file corrupted (%u)\n", offset);
            return false;
        }
        ++count;
        if (!isUpdatablePath(record->name, record->nameLength))
            CLIENT_LOG(util::LOG_ERROR, "data/meta/contentDB: node (%u) holds an unsafe path - skipped\n", offset);
        else if (fileDB_addEntry(record.get()))
            record.release();
        if (offset == lastNode) {
            CLIENT_LOG(util::LOG_INFO, "vfs: Loaded Meta Data - %u Files\n", count);
            return true;
        }
    }
}

void cleanMetaData()
{
    sys::parentDirectory folder;
    filePtr file;
    if (reachFolder(folder, DB_PATH)) {
        folder.removeFile();
        file.reset(folder.openStream(sys::STREAM_CREATE));
    }
    if (!file)
        TAVRIX_FATAL("vfs::cleanMetaData() -> could not open data/meta/contentDB for writing!\n");
    uint8_t head[HEAD_BYTES];
    putU16(head, FILE_VERSION);
    if (std::fwrite(head, HEAD_BYTES, 1, file.get()) != 1)
        TAVRIX_FATAL("vfs::cleanMetaData() -> failed to write to data/meta/contentDB!\n");
    uint8_t foot[FOOT_BYTES];
    buildFoot(foot, 0, NO_LAST_NODE);
    if (std::fwrite(foot, FOOT_BYTES, 1, file.get()) != 1 || std::fflush(file.get()) != 0)
        TAVRIX_FATAL("vfs::cleanMetaData() -> failed to write(2) to data/meta/contentDB!\n");
}

// Each node goes out with its new trailer in one write at the old trailer's place. Outside a reindex pass
// the database is opened and closed for each append; within one it stays open, and after every append holds
// the same bytes.
fileDataINFO* addFileToMetaData(fileDataINFO* record)
{
    struct closeUnlessHeld {
        ~closeUnlessHeld()
        {
            if (!held.holding)
                held.file.reset();
        }
    } closer;
    if (!held.file) {
        held.file.reset(openMetaStream(DB_PATH, sys::STREAM_UPDATE));
        if (!held.file)
            TAVRIX_FATAL("vfs::addFileToMetaData() -> failed to open data/meta/contentDB!\n");
        // Unbuffered: a buffered stream reads the block around every seek before it writes.
        std::setvbuf(held.file.get(), nullptr, _IONBF, 0);
        if (std::fseek(held.file.get(), -long(FOOT_BYTES), SEEK_END) != 0)
            TAVRIX_FATAL("vfs::addFileToMetaData() -> seek operation failed\n");
        uint8_t foot[FOOT_BYTES];
        if (std::fread(foot, FOOT_BYTES, 1, held.file.get()) != 1)
            TAVRIX_FATAL("vfs::addFileToMetaData() -> read(1) failed\n");
        if (!crcHolds(foot, FOOT_CRC))
            TAVRIX_FATAL("vfs::addFileToMetaData() -> data/meta/contentDB corrupted while usage - I/O Failure?\n");
        if (std::fseek(held.file.get(), -long(FOOT_BYTES), SEEK_END) != 0)
            TAVRIX_FATAL("vfs::addFileToMetaData() -> seek(2) operation failed\n");
        const long position = std::ftell(held.file.get());
        if (position < 0)
            TAVRIX_FATAL("vfs::addFileToMetaData() -> tell operation failed\n");
        held.nextNode = uint32_t(position);
    } else if (std::fseek(held.file.get(), long(held.nextNode), SEEK_SET) != 0) {
        TAVRIX_FATAL("vfs::addFileToMetaData() -> seek(2) operation failed\n");
    }
    // The new node takes the old trailer's place.
    const uint32_t offset = held.nextNode;
    uint8_t bytes[NODE_BYTES + FOOT_BYTES] = {};
    uint8_t* node = bytes;
    putU32(node + NODE_MAGIC, offset - NODE_MAGIC_BASE);
    std::memcpy(node + NODE_PATH, record->name, record->nameLength);
    putRecordFields(node, record);
    buildFoot(bytes + NODE_BYTES, meta.localContentVersion, offset);
    if (std::fwrite(bytes, sizeof(bytes), 1, held.file.get()) != 1)
        TAVRIX_FATAL("vfs::addFileToMetaData() -> write() operation failed\n");
    if (std::fflush(held.file.get()) != 0)
        TAVRIX_FATAL("vfs::addFileToMetaData() -> failed to write(f) to data/meta/contentDB!\n");
    held.nextNode = offset + NODE_BYTES;
    record->nodeOffset = offset;
    return record;
}

void updateFileMetaData(fileDataINFO* record)
{
    filePtr file(openMetaStream(DB_PATH, sys::STREAM_UPDATE));
    if (!file)
        TAVRIX_FATAL("vfs::updateFileMetaData() -> failed to open data/meta/contentDB!\n");
    if (std::fseek(file.get(), -long(FOOT_BYTES), SEEK_END) != 0)
        TAVRIX_FATAL("vfs::updateFileMetaData() -> seek operation failed\n");
    uint8_t foot[FOOT_BYTES];
    if (std::fread(foot, FOOT_BYTES, 1, file.get()) != 1)
        TAVRIX_FATAL("vfs::updateFileMetaData() -> read(1) failed\n");
    if (!crcHolds(foot, FOOT_CRC))
        TAVRIX_FATAL("vfs::updateFileMetaData() -> data/meta/contentDB corrupted while usage - I/O Failure?\n");
    if (std::fseek(file.get(), long(record->nodeOffset), SEEK_SET) != 0)
        TAVRIX_FATAL("vfs::updateFileMetaData() -> seek(2) operation failed\n");
    uint8_t node[NODE_BYTES];
    if (std::fread(node, NODE_BYTES, 1, file.get()) != 1)
        TAVRIX_FATAL("vfs::updateFileMetaData() -> read(2) operation failed\n");
    if (!crcHolds(node, NODE_CRC))
        TAVRIX_FATAL("vfs::updateFileMetaData() - node-crc validation failed, meta-DB seems to be corrupted\n");
    if (getU32(node + NODE_MAGIC) + NODE_MAGIC_BASE != record->nodeOffset)
        TAVRIX_FATAL("vfs::updateFileMetaData() -> node-magic validation failed, meta-DB seems to be corrupted\n");
    putRecordFields(node, record);
    if (std::fseek(file.get(), long(record->nodeOffset), SEEK_SET) != 0 || std::fwrite(node, NODE_BYTES, 1, file.get()) != 1)
        TAVRIX_FATAL("vfs::updateFileMetaData() -> write() operation failed\n");
    if (std::fseek(file.get(), -long(FOOT_BYTES), SEEK_END) != 0)
        TAVRIX_FATAL("vfs::updateFileMetaData()->seek(3) operation failed\n");
    // Only the time changes: the trailer keeps its content version and last-node offset.
    putI64(foot + FOOT_TIME, int64_t(std::time(nullptr)));
    sealCrc(foot, FOOT_CRC);
    if (std::fwrite(foot, FOOT_BYTES, 1, file.get()) != 1 || std::fflush(file.get()) != 0)
        TAVRIX_FATAL("vfs::addFileToMetaData() -> failed to write(f) to data/meta/contentDB!\n");
}

namespace {

void reindexOne(const char* path)
{
    char name[ESCAPED_PATH_SIZE];
    escapeMarkup(path, name, sizeof(name));
    char status[sizeof(name) + 96];
    std::snprintf(status, sizeof(status), "VFS: Reindex in Progress (this may take a while)\nCurrent File: %s", name);
    updateSink& screens = getUpdateSink();
    screens.setStatusText(updateSink::LOADING_SCREEN, status, 0);
    screens.setProgress(updateSink::LOADING_SCREEN, meta.reindexProgress, 100);
    if (meta.reindexProgress == 100)
        meta.reindexProgress = 0;
    meta.reindexProgress += 2;

    fileDataINFO* record = reindexFile(path);
    if (!record)
        return;
    if (!fileDB_addEntry(record))
        TAVRIX_FATAL("vfs:reindex() -> '%s' collision - this should never happen\n", path);
    addFileToMetaData(record);
}

void reindexDirectory(const char* directory)
{
    std::vector<sys::dirEntry> entries;
    sys::listDirectory(directory, entries);
    for (const sys::dirEntry& entry : entries) {
        const std::string path = std::string(directory) + "/" + entry.name;
        // The store's own files are not content.
        if (path == META_FOLDER)
            continue;
        if (entry.kind == sys::DIR_ENTRY_DIRECTORY)
            reindexDirectory(path.c_str());
        else
            reindexOne(path.c_str());
    }
}

} // namespace

void reindex(const char* directory, bool isDirectory)
{
    reindexPass pass;
    if (isDirectory)
        reindexDirectory(directory);
    else
        reindexOne(directory);
}

int64_t fileTimeToUnix(uint64_t fileTime) { return int64_t(fileTime - FILETIME_UNIX_EPOCH) / 10000000; }

fileDataINFO* reindexFile(const char* path)
{
    const size_t length = std::strlen(path);
    if (length > MAX_PATH_LENGTH) {
        CLIENT_LOG(util::LOG_ERROR, "vfs::reindexFile() - '%s' fileName exceeds the maximum supported fileName length of 127 chars. - SKIPPING!\n", path);
        return nullptr;
    }
    if (!isUpdatablePath(path, uint32_t(length))) {
        CLIENT_LOG(util::LOG_ERROR, "vfs::reindexFile() - '%s' is not a valid content path - SKIPPING!\n", path);
        return nullptr;
    }
    sys::inFile file;
    if (!file.open(path)) {
        // A file reindexing cannot read is deleted; the update fetches it again.
        if (sys::removeFile(path) == sys::REMOVE_FAILED)
            TAVRIX_FATAL("VFS: Can't open '%s' for reindexing - check permissions!\n", path);
        CLIENT_LOG(util::LOG_ERROR, "vfs::reindexFile - %s deleted, as read/open failed\n", path);
        return nullptr;
    }
    const int64_t size = file.length();
    if (size > int64_t(UINT32_MAX)) {
        CLIENT_LOG(util::LOG_ERROR, "vfs::reindexFile() - '%s' has %" PRId64 " Bytes, files of 4 GiB or more are not supported - SKIPPING!\n", path, size);
        return nullptr;
    }
    roPtr<fileDataINFO> record(newRecord(path, uint32_t(length)));
    record->contentVersion = meta.localContentVersion;
    record->time = fileTimeToUnix(file.creationFileTime());
    record->size = uint32_t(size < 0 ? 0 : size);

    uint32_t crc = 0;
    sha256Context sha;
    sha256_starts(&sha);
    uint8_t chunk[REINDEX_CHUNK];
    uint32_t remaining = record->size;
    bool readable = size >= 0;
    while (readable && remaining > 0) {
        const uint32_t n = remaining > REINDEX_CHUNK ? REINDEX_CHUNK : remaining;
        readable = file.readFull(chunk, n);
        remaining -= n;
        if (readable) {
            crc = crc32_update(crc, chunk, n);
            sha256_update(&sha, chunk, n);
        }
    }
    file.close();
    if (!readable) {
        record.reset();
        if (sys::removeFile(path) == sys::REMOVE_FAILED)
            TAVRIX_FATAL("VFS: Can't read/delete '%s' for reindexing - check permissions!\n", path);
        CLIENT_LOG(util::LOG_ERROR, "vfs::reindexFile - %s deleted as reading failed (remaining: %u)\n", path, remaining);
        return nullptr;
    }
    sha256_finish(&sha, record->sha256);
    record->crc32 = crc;
    char hex[65];
    util::bytesToHex(record->sha256, hex, 32);
    hex[64] = '\0';
    CLIENT_LOG(util::LOG_INFO, "vfs::reindexFile(%s) crc32(%u) sha256(%s) size(%u)\n", path, crc, hex, record->size);
    return record.release();
}

void rebuildMetaData()
{
    updateSink& screens = getUpdateSink();
    screens.setProgress(updateSink::LOADING_SCREEN, 0, 100);
    cleanMetaData();
    reindex("data", true);
    screens.setProgress(updateSink::LOADING_SCREEN, 100, 100);
    screens.setStatusText(updateSink::LOADING_SCREEN, "VFS: Reindex complete\n", 0);
}

void prepareLocalContent()
{
    if (meta.localContentVersion == 0) {
        rebuildMetaData();
        return;
    }
    if (!loadMetaData()) {
        CLIENT_LOG(util::LOG_ERROR, "vfs: Meta Database could'nt be loaded, starting re-index\n");
        meta.localContentVersion = 0;
        fileDB_wipe();
        rebuildMetaData();
    }
}

} // namespace tavrix::vfs
