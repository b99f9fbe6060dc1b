#pragma once
// The content store: every asset of the client by its content path, loaded once, checked against the
// CRC-32 of its record, shared as one NUL-terminated, reference-counted copy, and freed by a timed
// collection some seconds after its last release. A loose copy under dev/ wins over the file table.
#include <cstdint>

#include "client/clientlogger.h"

namespace tavrix::util {
class mutex;
}

namespace tavrix::vfs {

// Longest content path in bytes, without its NUL.
constexpr uint32_t MAX_PATH_LENGTH = 127;

// Whether `length` bytes name a content path that may reach the disk: 1 to 127 bytes, no NUL or control
// byte, no backslash, no leading '/', and no empty, "." or ".." component. Anything else is not there.
bool isSafeContentPath(const char* path, uint32_t length);

// One known content file. Allocated with room for the path and its NUL.
struct fileDataINFO {
    fileDataINFO* gcNext; // link on a collection stack: must stay the first field
    void* data;           // the handed-out bytes, or null
    uint32_t refCount;
    uint32_t releaseTime; // tavrix::getTimeMs when refCount last fell to 0
    uint8_t queued;       // 1 while on a collection stack
    uint32_t loaded;
    util::mutex* lock;
    uint32_t nodeOffset; // of the record's node in data/meta/contentDB
    int64_t time;        // Unix seconds: creation when reindexed, download time when fetched
    uint32_t size;
    uint8_t sha256[32];
    uint32_t crc32;
    uint32_t contentVersion;
    uint32_t nameLength; // without the NUL
    char name[];
};

// A zero-filled record for the path (length bytes, a NUL added); free it with rofree unless the table
// took it.
fileDataINFO* newRecord(const char* path, uint32_t length);

// Runs on a worker. When data is not null the receiver owns one reference (give it back with releaseFile).
typedef void (*loadCallback)(const char* name, void* data, uint32_t size, void* user, void* user2);

enum vfsJobKind : uint32_t {
    JOB_LOAD = 0,
    // A path too long to be a content path: reported as absent without a lookup.
    JOB_REFUSE = 1,
};

struct vfsJob {
    vfsJob* next;
    uint32_t kind;
    char name[MAX_PATH_LENGTH + 1];
    loadCallback callback;
    void* user;
    void* user2;
};

void init();
// The start-up step "VFS": local content, the update, then the screens' pages.
void postInit();
void final();

// Null when the file is not there or cannot be read; the caller owns one reference otherwise. size is the
// file's length (the recorded one when a known file cannot be read).
void* readFile(const char* path, uint32_t* size);
// The callback runs once on a worker, unless final stops the workers first.
void asyncLoad(const char* path, loadCallback callback, void* user, void* user2);
void releaseFile(void* data);
// Never loads: a readable dev/ copy or a record in the file table.
bool fileExists(const char* path);

uint32_t getLocalContentVersion();
void setLocalContentVersion(uint32_t version);

// False (the caller keeps the record) when the path is already in the table.
bool fileDB_addEntry(fileDataINFO* record);
// The record under the path, or null. Records live until fileDB_wipe or final.
fileDataINFO* fileDB_fetch(const char* path, uint32_t length);
// Only while no record holds data.
void fileDB_wipe();

// The collection: the two stacks, its settings and its periodic timer.
void startCollection();
// The collection timer's callback: frees data released at least vfs.gc.freeAfter milliseconds ago.
bool onGC(int32_t id, void* user1, void* user2);

// Fetches the path again from the asset server with the download screen shown, replacing the file and
// updating its record. expectedSha256 may be null.
bool emergeDownloadAndPatch(const char* path, const uint8_t* expectedSha256);
// Whether the update tries the local asset server first.
void setLocalAssetServer(bool use);

// data/meta/contentVersion
void readLocalContentVersion();
void saveLocalContentVersion();

// data/meta/contentDB
bool loadMetaData();
void cleanMetaData();
fileDataINFO* addFileToMetaData(fileDataINFO* record);
void updateFileMetaData(fileDataINFO* record);

// The file table and the meta database rebuilt from the files under a directory (isDirectory true) or
// from one file (false; the argument is then also its path).
void reindex(const char* directory, bool isDirectory);
// A record for one file, with its size and time taken from the opened file; null when the file is skipped
// or was deleted because it cannot be read.
fileDataINFO* reindexFile(const char* path);
// Empty database, then reindex of data/, with the loading screen's progress and status.
void rebuildMetaData();
// The local half of the start-up step: the file table from the meta database, or rebuilt when the local
// content version is 0 or the database does not load.
void prepareLocalContent();

} // namespace tavrix::vfs

// Every line of the content store carries its location.
#define VFS_LOG(level, ...) tavrix::getLogger()->logEx((level), __FILE__, __LINE__, TAVRIX_FUNC, __VA_ARGS__)
