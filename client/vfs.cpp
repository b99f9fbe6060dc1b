#include "client/vfslocal.h"

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "client/clientlogger.h"
#include "client/cvar.h"
#include "client/json.h"
#include "client/pooltable.h"
#include "client/timer.h"
#include "client/vfshttplib.h"
#include "platformlib/allocator/lockfreestack.h"
#include "platformlib/allocator/pool.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/posix/files.h"
#include "platformlib/posix/thread.h"
#include "platformlib/taskqueue.h"
#include "platformlib/util/crc32.h"
#include "platformlib/util/exception.h"
#include "platformlib/util/format.h"
#include "platformlib/util/rbdb.h"
#include "platformlib/util/workerstop.h"

namespace tavrix::vfs {

namespace {

constexpr uint32_t DATA_MAGIC = 0xFECABA03;
// Loads of one record that may each call for an emergency download before the load gives up.
constexpr uint32_t MAX_EMERGENCIES = 2;
constexpr uint32_t WORKER_WAIT_MS = 4000;
constexpr uint32_t WORKER_JOIN_MS = 12000;
// A worker count read from ./cvar.db is bounded to this.
constexpr int32_t MAX_WORKERS = 64;

// In front of the bytes handed out. The 32-bit layout was {owner, magic}; with 64-bit pointers the owner
// is padded so that the magic stays the word right before the data and the data stays 16-byte aligned.
// Nothing stores this layout.
struct fileDataHeader {
    fileDataINFO* owner; // null for a file read from dev/
    uint32_t reserved;
    uint32_t magic;
};
static_assert(sizeof(fileDataHeader) == 16, "the data follows a 16-byte header");

// The largest file a block can hold: header, bytes and NUL within a 32-bit allocation.
constexpr uint64_t MAX_DATA_SIZE = UINT32_MAX - sizeof(fileDataHeader) - 1;

struct storeState {
    rbdb* fileDB = nullptr;
    uint8_t devFolderFirst = 0;

    util::taskQueue<vfsJob>* jobQueue = nullptr;
    Pool<vfsJob>* jobPool = nullptr;
    std::atomic<bool> running{false};
    int32_t workerCount = 0;
    util::thread** workers = nullptr;

    // The collection: its timer, its two stacks (A pending, B deferred) and the lock that keeps a run from
    // overlapping final or a wipe. A run that starts after final finds the collection inactive and cancels
    // its timer.
    int32_t gcTimerId = -1;
    util::lockFreeStack gcPending;
    util::lockFreeStack gcDeferred;
    util::mutex gcLock;
    bool gcActive = false;
};
storeState store;

fileDataHeader* headerOf(void* data)
{
    return reinterpret_cast<fileDataHeader*>(static_cast<char*>(data) - sizeof(fileDataHeader));
}

void* dataOf(fileDataHeader* block) { return reinterpret_cast<char*>(block) + sizeof(fileDataHeader); }

// A block for size bytes with its NUL already behind them.
void* newDataBlock(uint32_t size, fileDataINFO* owner)
{
    auto* block = static_cast<fileDataHeader*>(roalloc(uint32_t(sizeof(fileDataHeader) + size + 1)));
    block->owner = owner;
    block->reserved = 0;
    block->magic = DATA_MAGIC;
    static_cast<char*>(dataOf(block))[size] = '\0';
    return dataOf(block);
}

void freeDataBlock(void* data) { rofree(headerOf(data)); }

rbdb* createFileDB()
{
    return strdb_create("vfs::fileDB", 1, 0, 0, client::logErrorPrintf, roalloc_rbdb, rofree_rbdb);
}

uint32_t pathLength(const char* path) { return uint32_t(strnlen(path, MAX_PATH_LENGTH + 1)); }

// The entity for a character that markup would read as its own, or null.
const char* entityOf(char c)
{
    switch (c) {
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '"':
        return "&quot;";
    case '\'':
        return "&#39;";
    case '&':
        return "&amp;";
    default:
        return nullptr;
    }
}

} // namespace

static void* _getFileDataDirect(const char* path, uint32_t* size)
{
    sys::inFile file;
    if (!file.open(path))
        return nullptr;
    if (!file.seek(0, SEEK_END)) {
        CLIENT_LOG(util::LOG_ERROR, "vfs::_getFileDataDirect(%s) -> seek() failed\n", path);
        return nullptr;
    }
    const int64_t end = file.tell();
    if (end < 0) {
        CLIENT_LOG(util::LOG_ERROR, "vfs::_getFileDataDirect(%s) -> tell() failed\n", path);
        return nullptr;
    }
    if (!file.seek(0, SEEK_SET)) {
        CLIENT_LOG(util::LOG_ERROR, "vfs::_getFileDataDirect(%s) -> seek() failed\n", path);
        return nullptr;
    }
    if (uint64_t(end) > MAX_DATA_SIZE) {
        CLIENT_LOG(util::LOG_ERROR, "vfs::_getFileDataDirect(%s) -> %" PRId64 " Bytes are too large to load\n", path, end);
        return nullptr;
    }
    void* data = newDataBlock(uint32_t(end), nullptr);
    // One read of one item: an empty file fails it, like a short one.
    if (end == 0 || !file.readFull(data, uint64_t(end))) {
        CLIENT_LOG(util::LOG_ERROR, "vfs::_getFileDataDirect(%s) -> read() failed\n", path);
        freeDataBlock(data);
        return nullptr;
    }
    *size = uint32_t(end);
    return data;
}

// One attempt at a record's file; null (logged) when it cannot be opened, is shorter than recorded or
// fails its checksum. The length is checked before anything is allocated for it.
static void* readRecordFile(fileDataINFO* record)
{
    sys::inFile file;
    if (!file.open(record->name)) {
        CLIENT_LOG(util::LOG_ERROR, "vfs: _getFileDataDisk() '%s' - I/O open error\n", record->name);
        return nullptr;
    }
    const int64_t available = file.length();
    void* data = nullptr;
    if (available >= int64_t(record->size) && record->size <= MAX_DATA_SIZE) {
        data = newDataBlock(record->size, record);
        if (!file.readFull(data, record->size)) {
            freeDataBlock(data);
            data = nullptr;
        }
    }
    if (!data) {
        CLIENT_LOG(util::LOG_ERROR, "vfs: _getFileDatDisk() '%s' - I/O read error (reading of %u Bytes failed)\n", record->name, record->size);
        return nullptr;
    }
    file.close();
    if (crc32_update(0, data, record->size) != record->crc32) {
        CLIENT_LOG(util::LOG_ERROR, "vfs: _getFileDataDisk() '%s' - Checksum Error\n", record->name);
        freeDataBlock(data);
        return nullptr;
    }
    return data;
}

// Called with the record's lock held. A file that still fails after two emergency downloads is given up,
// so a copy that never reads back correctly cannot hold the lock for ever.
static void* _getFileDataDisk(fileDataINFO* record)
{
    if (record->size == 0)
        return newDataBlock(0, record);
    for (uint32_t emergencies = 0;; ++emergencies) {
        if (void* data = readRecordFile(record))
            return data;
        if (emergencies == MAX_EMERGENCIES || !emergeDownloadAndPatch(record->name, record->sha256))
            return nullptr;
    }
}

namespace {

enum loadOutcome {
    LOAD_DONE,
    LOAD_MISSING,
    LOAD_FAILED,
};

// The load shared by readFile and the workers: dev/ first, then the file table.
loadOutcome loadPath(const char* path, void** data, uint32_t* size)
{
    *data = nullptr;
    *size = 0;
    const uint32_t length = pathLength(path);
    if (!isSafeContentPath(path, length))
        return LOAD_MISSING;
    if (store.devFolderFirst) {
        char devPath[256];
        std::snprintf(devPath, sizeof(devPath), "dev/%s", path);
        if ((*data = _getFileDataDirect(devPath, size)))
            return LOAD_DONE;
    }
    auto* record = static_cast<fileDataINFO*>(strdb_fetch(store.fileDB, path, length));
    if (!record)
        return LOAD_MISSING;
    record->lock->lock();
    if (!record->data) {
        if (void* loaded = _getFileDataDisk(record)) {
            record->data = loaded;
            record->loaded = 1;
        }
    }
    if (record->data)
        ++record->refCount;
    *data = record->data;
    *size = record->size;
    record->lock->unlock();
    return *data ? LOAD_DONE : LOAD_FAILED;
}

} // namespace

bool isSafeContentPath(const char* path, uint32_t length)
{
    if (length == 0 || length > MAX_PATH_LENGTH)
        return false;
    uint32_t componentStart = 0;
    for (uint32_t i = 0; i <= length; ++i) {
        if (i == length || path[i] == '/') {
            const uint32_t componentLength = i - componentStart;
            const char* component = path + componentStart;
            if (componentLength == 0 || (componentLength == 1 && component[0] == '.') ||
                (componentLength == 2 && component[0] == '.' && component[1] == '.'))
                return false;
            componentStart = i + 1;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (c < 0x20 || c == 0x7F || c == '\\')
            return false;
    }
    return true;
}

void escapeMarkup(const char* path, char* escaped, size_t size)
{
    size_t at = 0;
    for (; *path; ++path) {
        const char* entity = entityOf(*path);
        const size_t length = entity ? std::strlen(entity) : 1;
        if (at + length >= size)
            break;
        if (entity)
            std::memcpy(escaped + at, entity, length);
        else
            escaped[at] = *path;
        at += length;
    }
    if (size > 0)
        escaped[at] = '\0';
}

bool isUpdatablePath(const char* path, uint32_t length)
{
    constexpr char DATA[] = "data/";
    constexpr char META[] = "data/meta";
    constexpr uint32_t DATA_LENGTH = sizeof(DATA) - 1;
    constexpr uint32_t META_LENGTH = sizeof(META) - 1;
    if (!isSafeContentPath(path, length) || length <= DATA_LENGTH || std::memcmp(path, DATA, DATA_LENGTH) != 0)
        return false;
    const bool meta = length >= META_LENGTH && std::memcmp(path, META, META_LENGTH) == 0 &&
                      (length == META_LENGTH || path[META_LENGTH] == '/');
    return !meta;
}

fileDataINFO* newRecord(const char* path, uint32_t length)
{
    auto* record = static_cast<fileDataINFO*>(roalloc(uint32_t(sizeof(fileDataINFO) + length + 1)));
    std::memset(record, 0, sizeof(fileDataINFO));
    std::memcpy(record->name, path, length);
    record->name[length] = '\0';
    record->nameLength = length;
    return record;
}

static void pushJob(vfsJob* job) { store.jobQueue->push(job); }

static void task_asyncLoad(vfsJob* job)
{
    void* data = nullptr;
    uint32_t size = 0;
    if (job->kind == JOB_LOAD) {
        switch (loadPath(job->name, &data, &size)) {
        case LOAD_MISSING:
            CLIENT_LOG(util::LOG_ERROR, "vfs: asyncLoad(%s) - file does not exist\n", job->name);
            break;
        case LOAD_FAILED:
            CLIENT_LOG(util::LOG_ERROR, "asyncLoad: @TODO --- HANDLE I/O ERROR WITH DOWNLOADING\n");
            break;
        case LOAD_DONE:
            break;
        }
    }
    job->callback(job->name, data, size, job->user, job->user2);
}

static uint32_t worker(util::thread*)
{
    for (;;) {
        if (!store.running.load()) {
            CLIENT_LOG(util::LOG_INFO, "vfs::worker: terminating.\n");
            return 0;
        }
        if (vfsJob* job = store.jobQueue->take()) {
            task_asyncLoad(job);
            store.jobPool->put(job);
            continue;
        }
        store.jobQueue->waitWhileEmpty(store.running, WORKER_WAIT_MS);
    }
}

void init()
{
    vfsHttpLib::init();
    lockContentFolder();
    readLocalContentVersion();
    CLIENT_LOG(util::LOG_INFO, "vfs: Local Content Version %u\n", getLocalContentVersion());
    // What a replace cut short by the end of the process left behind, before a reindex takes it for content.
    if (const uint32_t removed = sys::removeLeftoverTemporaries("data"))
        CLIENT_LOG(util::LOG_INFO, "vfs: removed %u temporary files left by an interrupted write\n", removed);

    store.fileDB = createFileDB();
    store.jobQueue = new util::taskQueue<vfsJob>;

    store.jobPool = makePool<vfsJob>(pools::vfsJobEntry);

    cvar::initialize("vfs.dev.readFolderFirst", 0, 1);
    if (cvar::getI32("vfs.dev.readFolderFirst") != 0) {
        store.devFolderFirst = 1;
        sys::makeDirectory("dev/");
        CLIENT_LOG(util::LOG_INFO, "vfs: Enabled: read dev/ folder first\n");
    } else {
        // Both branches read dev/ first: the client has always been run as its debug build, whose
        // line this is, and content developers rely on their dev/ copies winning.
        store.devFolderFirst = 1;
        CLIENT_LOG(util::LOG_INFO, "vfs: _DEBUG Build, enabled (forced) read dev/ folder first\n");
    }

    store.running.exchange(true);

    cvar::initialize("vfs.nWorker", 2, 1);
    store.workerCount = std::clamp(cvar::getI32("vfs.nWorker"), int32_t(1), MAX_WORKERS);
    store.workers = static_cast<util::thread**>(roalloc(uint32_t(sizeof(util::thread*) * store.workerCount)));
    CLIENT_LOG(util::LOG_INFO, "vfs: launching %d Workers\n", store.workerCount);
    for (int32_t i = 0; i < store.workerCount; ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "VFS Worker#%d", i);
        store.workers[i] = new util::thread(name, worker, nullptr);
    }

    if (getLocalContentVersion() == 0)
        CLIENT_LOG(util::LOG_INFO, "vfs: Can't determine local Content Version\n");

    cvar::initialize("vfs.dev.useLocalAssetServer", 1, 1);
    setLocalAssetServer(cvar::getI32("vfs.dev.useLocalAssetServer") == 1);

    json::setFileSource(readFile, releaseFile);
}

void* readFile(const char* path, uint32_t* size)
{
    void* data;
    switch (loadPath(path, &data, size)) {
    case LOAD_MISSING:
        CLIENT_LOG(util::LOG_ERROR, "vfs: readFile(%s) - file does not exist\n", path);
        break;
    case LOAD_FAILED:
        CLIENT_LOG(util::LOG_ERROR, "readFile: @TODO --- HANDLE I/O ERROR WITH DOWNLOADING\n");
        break;
    case LOAD_DONE:
        break;
    }
    return data;
}

void asyncLoad(const char* path, loadCallback callback, void* user, void* user2)
{
    vfsJob* job = store.jobPool->get();
    job->next = nullptr;
    const uint32_t length = pathLength(path);
    const uint32_t kept = std::min(length, MAX_PATH_LENGTH);
    std::memcpy(job->name, path, kept);
    job->name[kept] = '\0';
    // A cut path could name another file: the load is refused, the callback still gets the cut name.
    job->kind = length > MAX_PATH_LENGTH ? JOB_REFUSE : JOB_LOAD;
    if (job->kind == JOB_REFUSE)
        CLIENT_LOG(util::LOG_ERROR, "vfs: asyncLoad(%s...) - path longer than 127 Bytes, not loaded\n", job->name);
    job->callback = callback;
    job->user = user;
    job->user2 = user2;
    pushJob(job);
}

void releaseFile(void* data)
{
    if (!data || headerOf(data)->magic != DATA_MAGIC) {
        CLIENT_LOG(util::LOG_ERROR, "vfs: releaseFile(" TAVRIX_PTR ") - Invalid Address\n", util::ptrArg(data));
        return;
    }
    fileDataINFO* record = headerOf(data)->owner;
    if (!record) {
        freeDataBlock(data);
        return;
    }
    record->lock->lock();
    if (record->refCount == 0) {
        record->lock->unlock();
        CLIENT_LOG(util::LOG_INFO, "vfs: releaseFile(" TAVRIX_PTR ") Tried to Release already fully dereferenced file %s\n", util::ptrArg(data), record->name);
        return;
    }
    if (--record->refCount == 0) {
        record->releaseTime = uint32_t(getTimeMs());
        if (record->queued != 1) {
            record->queued = 1;
            util::lfStackPush(&store.gcPending, record);
        }
    }
    record->lock->unlock();
}

bool fileExists(const char* path)
{
    const uint32_t length = pathLength(path);
    if (!isSafeContentPath(path, length))
        return false;
    if (store.devFolderFirst) {
        char devPath[256];
        std::snprintf(devPath, sizeof(devPath), "dev/%s", path);
        sys::inFile probe;
        if (probe.open(devPath))
            return true;
    }
    return strdb_fetch(store.fileDB, path, length) != nullptr;
}

bool fileDB_addEntry(fileDataINFO* record)
{
    if (strdb_fetch(store.fileDB, record->name, record->nameLength))
        return false;
    record->lock = new util::mutex;
    record->queued = 0;
    record->releaseTime = 0;
    record->data = nullptr;
    record->refCount = 0;
    record->loaded = 0;
    if (strdb_insert(store.fileDB, record->name, record->nameLength, record) != record)
        TAVRIX_FATAL("vfs::fileDB_addEntry() -> Concurrency Issue\n");
    return true;
}

fileDataINFO* fileDB_fetch(const char* path, uint32_t length)
{
    return static_cast<fileDataINFO*>(strdb_fetch(store.fileDB, path, length));
}

} // namespace tavrix::vfs

namespace tavrix {

static int vfs_fileDB_wipe_eachFile(const char* key, uint32_t keyLength, void* value, va_list)
{
    auto* record = static_cast<vfs::fileDataINFO*>(value);
    strdb_delete(vfs::store.fileDB, key, keyLength);
    delete record->lock;
    rofree(record);
    return 0;
}

static int vfs_final_eachFileInFileDB(const char*, uint32_t, void* value, va_list)
{
    auto* record = static_cast<vfs::fileDataINFO*>(value);
    if (record->refCount != 0)
        CLIENT_LOG(util::LOG_WARN, "vfs: File '%s' still referenced/used %u times\n", record->name, record->refCount);
    if (record->data && vfs::headerOf(record->data)->magic == vfs::DATA_MAGIC)
        vfs::freeDataBlock(record->data);
    else if (record->data)
        CLIENT_LOG(util::LOG_ERROR, "vfs: File '%s' has corrupted fileDataINFO!\n", record->name);
    delete record->lock;
    rofree(record);
    return 0;
}

} // namespace tavrix

namespace tavrix::vfs {

void fileDB_wipe()
{
    CLIENT_LOG(util::LOG_INFO, "vfs: wiping fileDB!\n");
    std::lock_guard<util::mutex> guard(store.gcLock);
    // Emptied in place rather than made again: other threads may be looking names up meanwhile (the UI
    // Worker asks for the faces it misses), and they keep the table they hold.
    strdb_foreach(store.fileDB, vfs_fileDB_wipe_eachFile);
    // No record that is gone may stay on a stack.
    util::lfStackInit(&store.gcPending);
    util::lfStackInit(&store.gcDeferred);
}

bool onGC(int32_t, void*, void*)
{
    std::lock_guard<util::mutex> guard(store.gcLock);
    if (!store.gcActive)
        return true;
    const uint32_t now = uint32_t(getTimeMs());
    const uint32_t freeAfter = uint32_t(cvar::getI32("vfs.gc.freeAfter"));
    while (auto* record = static_cast<fileDataINFO*>(util::lfStackPop(&store.gcPending))) {
        std::lock_guard<util::mutex> recordGuard(*record->lock);
        if (record->refCount != 0 || record->loaded == 0) {
            record->queued = 0;
        } else if (now - record->releaseTime < freeAfter) {
            util::lfStackPush(&store.gcDeferred, record);
        } else {
            freeDataBlock(record->data);
            record->data = nullptr;
            record->loaded = 0;
            record->queued = 0;
        }
    }
    while (void* record = util::lfStackPop(&store.gcDeferred))
        util::lfStackPush(&store.gcPending, record);
    return false;
}

void startCollection()
{
    std::lock_guard<util::mutex> guard(store.gcLock);
    util::lfStackInit(&store.gcPending);
    util::lfStackInit(&store.gcDeferred);
    cvar::initialize("vfs.gc.interval", 10000, 1);
    cvar::initialize("vfs.gc.freeAfter", 6000, 1);
    const int32_t interval = cvar::getI32("vfs.gc.interval");
    store.gcActive = true;
    store.gcTimerId = timer_add(getTimeMs() + interval, interval, onGC, nullptr, nullptr);
}

// A worker in an emergency download ends it at once.
static void abortAndWake(void*)
{
    vfsHttpLib::abortTransfers();
    store.jobQueue->wakeAll();
}

bool stop()
{
    {
        std::lock_guard<util::mutex> guard(store.gcLock);
        if (store.gcTimerId != -1) {
            timer_del(store.gcTimerId);
            store.gcTimerId = -1;
        }
        store.gcActive = false;
    }
    // A worker still running keeps its object for final to let go; the end without the shutdown only stops it.
    return util::stopWorkers(&store.running, abortAndWake, nullptr, store.workers, uint32_t(store.workerCount), WORKER_JOIN_MS);
}

void final()
{
    CLIENT_LOG(util::LOG_INFO, "vfs::final - begin\n");
    // Kept for a worker that outlived its join, which is let go here: the file table with its records and
    // their data, the job queue and pool, the HTTP library and the content folder's lock.
    const bool workersEnded = stop();
    if (store.workers) {
        for (int32_t i = 0; i < store.workerCount; ++i)
            util::letWorkerGo(store.workers[i]);
        rofree(store.workers);
        store.workers = nullptr;
    }

    if (workersEnded) {
        // Jobs never run go back before the pool goes.
        while (vfsJob* job = store.jobQueue->take())
            store.jobPool->put(job);
        delete store.jobPool;
        store.jobPool = nullptr;
        delete store.jobQueue;
        store.jobQueue = nullptr;
        if (store.fileDB) {
            strdb_foreach(store.fileDB, vfs_final_eachFileInFileDB);
            db_destroy(store.fileDB);
            store.fileDB = nullptr;
        }
    }

    saveLocalContentVersion();
    json::setFileSource(nullptr, nullptr);
    // A worker left behind may still write: the folder stays held until the process ends.
    if (workersEnded) {
        unlockContentFolder();
        vfsHttpLib::final();
    }
    CLIENT_LOG(util::LOG_INFO, "vfs::final - end\n");
}

} // namespace tavrix::vfs
