#pragma once
// The content store's internals, shared by its files (vfs, vfsmeta, vfsupdate) and its tests: the file
// table and its records, the meta database, the content version and the update's steps.
#include <cstddef>
#include <cstdint>

#include "client/vfs.h"

namespace tavrix::util {
class mutex;
}

namespace tavrix::vfs {

// Longest content path in bytes, without its NUL.
constexpr uint32_t MAX_PATH_LENGTH = 127;

// Whether `length` bytes name a content path that may reach the disk: 1 to 127 bytes, no NUL or control
// byte, no backslash, no leading '/', and no empty, "." or ".." component. Anything else is not there.
bool isSafeContentPath(const char* path, uint32_t length);
// A path as status texts carry it: the screens show those as markup, so < > " ' & become entities. The
// result is cut, never inside an entity, to fit `size` bytes with its NUL.
void escapeMarkup(const char* path, char* escaped, size_t size);
// Room for any content path escaped whole ("&quot;" is the longest entity).
constexpr uint32_t ESCAPED_PATH_SIZE = 6 * MAX_PATH_LENGTH + 1;

// Whether a safe content path names a content file: one under data/, but neither data/meta nor anything in
// it, which hold the store's own files. Only such paths are recorded, downloaded or written.
bool isUpdatablePath(const char* path, uint32_t length);

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

void setLocalContentVersion(uint32_t version);

// False (the caller keeps the record) when the path is already in the table.
bool fileDB_addEntry(fileDataINFO* record);
// The record under the path, or null. Records live until fileDB_wipe or final. The table hashes the path up
// to its NUL: pass NUL-terminated text.
fileDataINFO* fileDB_fetch(const char* path, uint32_t length);
// Only while no record holds data.
void fileDB_wipe();

// The collection: the two stacks, its settings and its periodic timer.
void startCollection();
// The collection timer's callback: frees data released at least vfs.gc.freeAfter milliseconds ago.
bool onGC(int32_t id, void* user1, void* user2);

// The content update, on the start-up executor: the server's current version (false, version 0, when it
// gives none), then the file list of that version and every file that differs from its local record.
bool getRemoteContentVersion(const char* url, uint32_t* version);
// True when every file listed as changed was stored.
bool prepareAndDownloadUpdates(const char* url);
// Fetches one file of the remote version from the base URL in use and stores and records it, with the
// loading screen's texts. expectedSha256 may be null.
bool downloadAndPatch(const char* path, const uint8_t* expectedSha256);
// The same with the download screen shown; any thread that loads files, once the update has chosen its
// server. expectedSha256 may be null.
bool emergeDownloadAndPatch(const char* path, const uint8_t* expectedSha256);
// Whether the update tries the local asset server first; init calls it, and no server is chosen yet.
void setLocalAssetServer(bool use);

// One definition of the asset server's file list: "nameLen:name,size,sha256".
struct fileListDefinition {
    const char* name; // inside the list, not NUL-terminated
    uint32_t nameLength;
    uint32_t size;
    uint8_t sha256[32];
};
typedef void (*fileListVisitor)(const fileListDefinition& definition, void* user);

// Why reading the file list ended.
enum fileListEnd : uint32_t {
    FILELIST_COUNT_CORRUPT = 0,   // the count line is empty, does not start with a digit or exceeds 32 bits
    FILELIST_ONLY_COUNT = 1,      // a count above 0, but the list ends with the count line
    FILELIST_END = 2,             // an empty line or the end of the list (a count of 0 reads nothing more)
    FILELIST_NO_COLON = 3,        // a line without ':'
    FILELIST_BAD_NAME_LENGTH = 4, // the length is not a number up to 127, or the name runs past the line
    FILELIST_NO_SEPARATOR = 5,    // no ',' right after the name
    FILELIST_NO_SIZE_SEPARATOR = 6,
    FILELIST_BAD_HASH_LENGTH = 7, // not exactly 64 bytes after the second ','
    FILELIST_BAD_SIZE = 8,        // the size is not a 32-bit number of digits only
    FILELIST_BAD_NAME = 9,        // not a content path under data/, or one under data/meta/
};

struct fileListResult {
    fileListEnd end;
    uint32_t count;     // the count line's number
    uint32_t processed; // definitions read and visited
    uint32_t line;      // the line reading ended at; the count line is 1
};

// Reads a file list without touching anything else: each valid definition is handed to visit, in order,
// until the first line that is not one.
fileListResult parseFileList(const char* list, uint32_t size, fileListVisitor visit, void* user);

// Test seams, before init: the base URLs of the local and the public asset server (each ending in '/', at
// most MAX_BASE_URL_LENGTH bytes; null restores the built-in one), and the wait before the window is asked
// to close after a failed update.
constexpr uint32_t MAX_BASE_URL_LENGTH = 100;
void setAssetServerBaseURLs(const char* local, const char* publicBase);
void setCloseWaitMs(uint32_t milliseconds);

// The hold on data/meta/lock that keeps a second client from writing the same folder: a fatal error when
// another client has it (or the folder cannot be made), before anything else is written. Released by final.
void lockContentFolder();
void unlockContentFolder();

// data/meta/contentVersion
void readLocalContentVersion();
void saveLocalContentVersion();

// data/meta/contentDB
bool loadMetaData();
void cleanMetaData();
fileDataINFO* addFileToMetaData(fileDataINFO* record);
void updateFileMetaData(fileDataINFO* record);

// A Windows file time (100-nanosecond intervals since 1601-01-01) in Unix seconds, truncated toward zero.
int64_t fileTimeToUnix(uint64_t fileTime);

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

