#include "platformlib/util/logger.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platformlib/posix/udpsocket.h"
#include "platformlib/spinlock.h"
#include "platformlib/taskqueue.h"
#include "platformlib/util/exception.h"
#include "platformlib/util/littleendian.h"
#include "platformlib/util/textfile.h"
#include "platformlib/util/workerstop.h"

namespace tavrix::util {

namespace {

constexpr uint32_t IDLE_WAIT_MS = 3000;
constexpr uint32_t GATHER_MS = 1;
constexpr uint32_t JOIN_MS = 500;
// A call takes microseconds; the bound only matters for a caller preempted in the middle of one.
constexpr uint32_t CALLS_WAIT_MS = 500;
constexpr uint32_t MIN_TEXT = 63;
constexpr uint32_t HOOK_ALL = 0xFFFF;
// Up to here a double's rounding of the milliseconds over 1000 stays far inside the fifth decimal.
constexpr int64_t EXACT_SECONDS_MS = 10000000000000;

// A line of fewer than SLOT_TEXT characters is recorded in a slot of the record pool; a longer one in a
// block of the heap sized for it.
constexpr uint32_t SLOT_TEXT = 128;
constexpr size_t RECORD_HEAD = offsetof(logger::message, text);
constexpr size_t CHUNK_SLOTS = 256;
static_assert(SLOT_TEXT > MIN_TEXT, "a slot holds the least text a record is sized for");

bool fitsSlot(uint32_t length) { return length < SLOT_TEXT; }

struct logFile {
    logFile* next;
    FILE* file;
    char* path;
    uint32_t mask;
};

// "..." and the name's last 44 characters when it does not fit.
void copyName(char (&field)[logger::NAME_SIZE], const char* name)
{
    const size_t length = name ? std::strlen(name) : 0;
    if (length < logger::NAME_SIZE) {
        std::memcpy(field, name ? name : "", length + 1);
        return;
    }
    constexpr size_t tail = logger::NAME_SIZE - 4;
    std::memcpy(field, "...", 3);
    std::memcpy(field + 3, name + length - tail, tail + 1);
}

constexpr size_t PREFIX_SIZE = 64;

// A file line's prefix, "[%0.5f] %-9s " of the time over 1000 and the level's tag "(%s)". Below
// EXACT_SECONDS_MS the seconds are the milliseconds as they stand with two zeros after them: written here
// digit by digit, far faster than printing a double. Returns the length.
size_t formatPrefix(char (&out)[PREFIX_SIZE], int64_t ms, uint32_t level)
{
    char tag[16];
    const char* name = logger::levelName(level);
    const size_t nameLength = std::strlen(name);
    tag[0] = '(';
    std::memcpy(tag + 1, name, nameLength);
    tag[nameLength + 1] = ')';
    tag[nameLength + 2] = '\0';
    if (ms <= -EXACT_SECONDS_MS || ms >= EXACT_SECONDS_MS)
        return size_t(std::snprintf(out, sizeof(out), "[%0.5f] %-9s ", double(ms) / 1000.0, tag));
    char* at = out;
    *at++ = '[';
    if (ms < 0)
        *at++ = '-';
    uint64_t whole = uint64_t(ms < 0 ? -ms : ms);
    const uint32_t thousandths = uint32_t(whole % 1000);
    whole /= 1000;
    char digits[20];
    size_t count = 0;
    do {
        digits[count++] = char('0' + whole % 10);
        whole /= 10;
    } while (whole);
    while (count)
        *at++ = digits[--count];
    const char tail[] = {'.', char('0' + thousandths / 100), char('0' + thousandths / 10 % 10), char('0' + thousandths % 10), '0', '0', ']', ' '};
    std::memcpy(at, tail, sizeof(tail));
    at += sizeof(tail);
    // The longest tag, "(UNKNOWN)", fills the nine places.
    std::memcpy(at, tag, nameLength + 2);
    std::memset(at + nameLength + 2, ' ', 9 - (nameLength + 2) + 1);
    return size_t(at - out) + 10;
}

// Appends n bytes when they fit before end (the place of the NUL).
bool put(char*& at, const char* end, const char* bytes, size_t n)
{
    if (size_t(end - at) < n)
        return false;
    std::memcpy(at, bytes, n);
    at += n;
    return true;
}

// A 32-bit value in decimal, with a minus sign when it is negative.
bool putDecimal(char*& at, const char* end, uint32_t magnitude, bool negative)
{
    char digits[11];
    char* first = digits + sizeof(digits);
    do {
        *--first = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (negative)
        *--first = '-';
    return put(at, end, first, size_t(digits + sizeof(digits) - first));
}

// Nearly every line has only conversions without flags, width, precision or length, which vsnprintf
// spends most of a call on. Writes those; -1 for any other conversion, a null string or a text that does
// not fit, which vsnprintf then writes from the start.
int formatPlain(char* out, size_t size, const char* format, va_list args)
{
    if (size == 0)
        return -1;
    char* at = out;
    const char* const end = out + size - 1;
    for (const char* f = format;;) {
        const char* percent = strchrnul(f, '%');
        if (!put(at, end, f, size_t(percent - f)))
            return -1;
        if (!*percent)
            break;
        f = percent + 2;
        switch (percent[1]) {
        case 'd': {
            const int value = va_arg(args, int);
            if (!putDecimal(at, end, value < 0 ? 0u - uint32_t(value) : uint32_t(value), value < 0))
                return -1;
            break;
        }
        case 'u':
            if (!putDecimal(at, end, va_arg(args, unsigned), false))
                return -1;
            break;
        case 's': {
            const char* text = va_arg(args, const char*);
            if (!text || !put(at, end, text, std::strlen(text)))
                return -1;
            break;
        }
        case 'c': {
            const char c = char(va_arg(args, int));
            if (!put(at, end, &c, 1))
                return -1;
            break;
        }
        case '%':
            if (!put(at, end, "%", 1))
                return -1;
            break;
        default:
            return -1;
        }
    }
    *at = '\0';
    return int(at - out);
}

// The records of short lines: taken by any caller, given back by the worker a few at a time. It grows by
// chunks as far as the backlog needs and keeps them until it goes, so that a line costs no allocation once
// it has grown. A free slot is linked through the record's own next field.
class recordPool {
public:
    // Slots the worker gathers before it gives them back under the lock.
    static constexpr uint32_t GIVE_BACK = 32;

    recordPool() = default;
    ~recordPool()
    {
        while (chunks) {
            chunk* next = chunks->next;
            std::free(chunks);
            chunks = next;
        }
    }
    recordPool(const recordPool&) = delete;
    recordPool& operator=(const recordPool&) = delete;

    // Null when the pool is empty and cannot grow.
    logger::message* take()
    {
        std::lock_guard<spinlock> guard(lock);
        if (logger::message* slot = freeSlots) {
            freeSlots = slot->next;
            return slot;
        }
        if (used == CHUNK_SLOTS) {
            auto* grown = static_cast<chunk*>(std::malloc(sizeof(chunk)));
            if (!grown)
                return nullptr;
            grown->next = chunks;
            chunks = grown;
            used = 0;
        }
        return reinterpret_cast<logger::message*>(chunks->slots[used++].bytes);
    }

    // A chain of slots, first to last through their next fields.
    void give(logger::message* first, logger::message* last)
    {
        std::lock_guard<spinlock> guard(lock);
        last->next = freeSlots;
        freeSlots = first;
    }

private:
    struct slot {
        alignas(logger::message) unsigned char bytes[RECORD_HEAD + SLOT_TEXT];
    };
    struct chunk {
        chunk* next;
        slot slots[CHUNK_SLOTS];
    };

    spinlock lock;
    logger::message* freeSlots = nullptr;
    chunk* chunks = nullptr;
    // Slots of the newest chunk handed out so far.
    size_t used = CHUNK_SLOTS;
};

} // namespace

struct logger::core {
    core() = default;
    core(const core&) = delete;
    core& operator=(const core&) = delete;
    ~core();

    // Counts a call from before its look at running until its last touch of the logger, so that stop can
    // wait for the calls under way. Both sides are sequentially consistent: either the call sees running
    // cleared, or stop sees the call counted.
    class call {
    public:
        explicit call(core& s) : counted(s), admitted((s.callsUnderWay.fetch_add(1), s.running.load())) {}
        ~call() { counted.callsUnderWay.fetch_sub(1); }
        call(const call&) = delete;
        call& operator=(const call&) = delete;

    private:
        core& counted;

    public:
        const bool admitted;
    };

    // The last of the logger and its worker to let go frees it all.
    void release()
    {
        if (owners.fetch_sub(1) == 1)
            delete this;
    }
    bool waitForCalls();

    message* newRecord(uint32_t length)
    {
        if (fitsSlot(length))
            return pool.take();
        return static_cast<message*>(std::malloc(RECORD_HEAD + length + 1));
    }
    // Records linked through next: the slots go back to the pool in runs, the rest to the heap. With
    // `write`, each goes through the hooks first, unless destruction told the worker to drop what is left.
    void finish(message* record, bool write);
    void freeRecords(message* record) { finish(record, false); }

    void runHooks(const message* record);
    void flushFiles();
    void sendName(uint8_t type);
    void sendDatagram(const uint8_t* data, size_t size) { sys::udpSendTo(udpSocket, udpTarget, data, size); }

    // Each group on a cache line of its own: the flags that every call and every record the worker writes
    // read, the counts that every call writes, the count the worker writes, and the queue both take.
    alignas(64) std::atomic<bool> running{false};
    // Set when the worker outlived the first join: it writes nothing more.
    std::atomic<bool> dropping{false};
    alignas(64) std::atomic<int32_t> callsUnderWay{0};
    // Records queued so far and records through the hooks, for flush.
    std::atomic<uint64_t> queued{0};
    alignas(64) std::atomic<uint64_t> handled{0};
    alignas(64) taskQueue<message, spinlock> queue;
    recordPool pool;
    spinlock hooksLock;
    hook* hookHead = nullptr;
    hook* hookTail = nullptr;
    spinlock filesLock;
    logFile* logFiles = nullptr;
    char* udpName = nullptr;
    int udpSocket = sys::INVALID_UDP_SOCKET;
    sys::udpAddress udpTarget{};
    std::atomic<int32_t> owners{1};
};

logger::core::~core()
{
    freeRecords(queue.takeAll());
    while (logFiles) {
        logFile* next = logFiles->next;
        std::fclose(logFiles->file);
        std::free(logFiles->path);
        std::free(logFiles);
        logFiles = next;
    }
    while (hookHead) {
        hook* next = hookHead->next;
        std::free(hookHead);
        hookHead = next;
    }
    hookTail = nullptr;
    if (udpSocket != sys::INVALID_UDP_SOCKET) {
        std::free(udpName);
        udpName = nullptr;
        sys::udpClose(udpSocket);
        udpSocket = sys::INVALID_UDP_SOCKET;
    }
}

bool logger::core::waitForCalls()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(CALLS_WAIT_MS);
    while (callsUnderWay.load() != 0) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        sys::yield();
    }
    return true;
}

void logger::core::finish(message* record, bool write)
{
    message* slots = nullptr;
    message* lastSlot = nullptr;
    uint32_t gathered = 0;
    uint64_t count = 0;
    while (record) {
        message* next = record->next;
        if (write && !dropping.load(std::memory_order_relaxed))
            runHooks(record);
        if (!fitsSlot(record->textLength)) {
            std::free(record);
        } else {
            record->next = slots;
            slots = record;
            if (!lastSlot)
                lastSlot = record;
            if (++gathered == recordPool::GIVE_BACK) {
                pool.give(slots, lastSlot);
                slots = lastSlot = nullptr;
                gathered = 0;
            }
        }
        ++count;
        record = next;
    }
    if (slots)
        pool.give(slots, lastSlot);
    if (!write)
        return;
    // A run's lines reach the files together, and only then count as written for a flush.
    flushFiles();
    handled.fetch_add(count);
}

void logger::core::flushFiles()
{
    std::lock_guard<spinlock> guard(filesLock);
    for (logFile* f = logFiles; f; f = f->next)
        std::fflush(f->file);
}

void logger::core::runHooks(const message* record)
{
    std::lock_guard<spinlock> guard(hooksLock);
    for (const hook* h = hookHead; h; h = h->next)
        if (h->mask & uint32_t(record->level))
            h->callback(h->user, record);
}

void logger::core::sendName(uint8_t type)
{
    const size_t length = std::strlen(udpName);
    auto* datagram = static_cast<uint8_t*>(std::malloc(length + 2));
    if (!datagram)
        return;
    datagram[0] = type;
    std::memcpy(datagram + 1, udpName, length + 1);
    sendDatagram(datagram, length + 2);
    std::free(datagram);
}

logger::logger(noWorker) : workerThread(nullptr), shared(new core), callsLeftBehind(false) {}

logger::logger() : logger(noWorker{})
{
    shared->running.exchange(true);
    shared->owners.fetch_add(1);
    workerThread = new thread("Logger - Worker", worker, shared);
    // A worker that never started has no share to give back.
    if (!workerThread->isRunning())
        shared->owners.fetch_sub(1);
}

logger::~logger()
{
    stop();
    // A worker left behind gives its share back when it ends; a call left behind may touch all of it.
    if (!callsLeftBehind)
        shared->release();
}

bool logger::stop()
{
    core& s = *shared;
    if (!s.running.exchange(false))
        return !callsLeftBehind;
    callsLeftBehind = !s.waitForCalls();
    stopWorker();
    s.freeRecords(s.queue.takeAll());
    if (s.udpSocket != sys::INVALID_UDP_SOCKET)
        s.sendName('S');
    return !callsLeftBehind;
}

// A thread cannot be killed safely here. When the worker outlives the join, what it holds and what is still
// queued are dropped unwritten, so it ends once the hooks of its current record return. A worker stuck even then is
// left running on its share of the state.
void logger::stopWorker()
{
    // stop cleared the running flag: its exchange tells a second stop that there is nothing to do.
    const wakeWorkers wake = [](void* state) { static_cast<core*>(state)->queue.wakeAll(); };
    if (util::stopWorker(nullptr, wake, shared, workerThread, JOIN_MS))
        return;
    shared->dropping.store(true);
    shared->freeRecords(shared->queue.takeAll());
    // Kept for a worker stuck even now: its share of the state, which it gives back when it ends.
    if (!util::stopWorker(nullptr, nullptr, nullptr, workerThread, JOIN_MS))
        letWorkerGo(workerThread);
}

void logger::vlogEx(uint32_t level, const char* file, int32_t line, const char* function, const char* format,
                    va_list args)
{
    core& s = *shared;
    const core::call call(s);
    if (!call.admitted)
        return;
    char text[MAX_TEXT + 1];
    const int formatted = formatText(text, sizeof(text), format, args);
    // The formatter reports the untruncated length; only what fits in the buffer was stored.
    const uint32_t length = formatted < 0 ? 0 : formatted > int(MAX_TEXT) ? MAX_TEXT : uint32_t(formatted);
    if (formatted < 0)
        text[0] = '\0';
    message* record = s.newRecord(length);
    if (!record)
        return;
    record->next = nullptr;
    record->level = int32_t(level);
    record->time = getTime();
    record->line = line;
    copyName(record->file, file);
    copyName(record->function, function);
    std::memcpy(record->text, text, length + 1);
    record->textLength = length;

    // Counted before it is appended: the worker never gets ahead of the count a flush waits for.
    s.queued.fetch_add(1);
    s.queue.push(record);
}

uint32_t logger::worker(thread* self)
{
    core& s = *static_cast<core*>(self->getArg());
    for (;;) {
        // All that is queued at once: the queue's lock changes hands once a run, not once a line.
        if (message* records = s.queue.takeAll()) {
            s.finish(records, true);
            // Lines seldom come alone: a short nap, announced to no caller, lets the next ones gather,
            // so that the queue changes hands and the worker is woken once a run rather than once a line.
            sys::sleepMs(GATHER_MS);
            continue;
        }
        if (!s.running.load())
            break;
        s.queue.waitWhileEmpty(s.running, IDLE_WAIT_MS);
    }
    s.release();
    return 0;
}

bool logger::flush(uint32_t milliseconds)
{
    const uint64_t target = shared->queued.load();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (shared->handled.load() < target) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        sys::sleepMs(1);
    }
    return true;
}

void logger::registerHook(uint32_t mask, void* user, hookCallback callback)
{
    auto* h = static_cast<hook*>(std::malloc(sizeof(hook)));
    if (!h)
        TAVRIX_FATAL("Logger - Out of Memory\nHook Registration failed\n");
    h->next = nullptr;
    h->mask = mask;
    h->callback = callback;
    h->user = user;
    core& s = *shared;
    std::lock_guard<spinlock> guard(s.hooksLock);
    if (s.hookTail)
        s.hookTail->next = h;
    else
        s.hookHead = h;
    s.hookTail = h;
}

void logger::unregisterHook(uint32_t mask, void* user, hookCallback callback)
{
    core& s = *shared;
    std::lock_guard<spinlock> guard(s.hooksLock);
    hook* previous = nullptr;
    for (hook* h = s.hookHead; h; previous = h, h = h->next) {
        if (h->mask != mask || h->callback != callback || h->user != user)
            continue;
        if (previous)
            previous->next = h->next;
        else
            s.hookHead = h->next;
        if (s.hookTail == h)
            s.hookTail = previous;
        std::free(h);
        break;
    }
}

bool logger::addLogFile(const char* path, uint32_t mask)
{
    FILE* file = std::fopen(path, "wb");
    if (!file)
        return false;
    auto* node = static_cast<logFile*>(std::malloc(sizeof(logFile)));
    char* copy = strdup(path);
    if (!node || !copy) {
        std::free(node);
        std::free(copy);
        std::fclose(file);
        return false;
    }
    node->file = file;
    node->path = copy;
    node->mask = mask;
    {
        core& s = *shared;
        std::lock_guard<spinlock> guard(s.filesLock);
        node->next = s.logFiles;
        s.logFiles = node;
    }
    registerHook(mask, node, fileHook);
    return true;
}

int logger::formatText(char* out, size_t size, const char* format, va_list args)
{
    va_list again;
    va_copy(again, args);
    int length = formatPlain(out, size, format, args);
    if (length < 0)
        length = std::vsnprintf(out, size, format, again);
    va_end(again);
    return length;
}

const char* logger::levelName(uint32_t level)
{
    switch (level) {
    case LOG_INFO:
        return "INFO";
    case LOG_WARN:
        return "WARN";
    case LOG_ERROR:
        return "ERROR";
    case LOG_MEMMGR:
        return "MEMMGR";
    case LOG_DEBUG:
        return "DEBUG";
    default:
        return "UNKNOWN";
    }
}

void logger::fileHook(void* user, const message* record)
{
    FILE* file = static_cast<logFile*>(user)->file;
    char prefix[PREFIX_SIZE];
    const size_t length = formatPrefix(prefix, record->time, uint32_t(record->level));
    // One hold of the file's lock for the line: the text's write takes it again without waiting.
    flockfile(file);
    fwrite_unlocked(prefix, 1, length, file);
    writeTextMode(file, record->text, record->textLength);
    funlockfile(file);
}

// Sockets need no start-up or clean-up here, unlike Winsock; the console starts with its socket.
void logger::enableUDPConsole(const char* name, const char* address, uint16_t port)
{
    core& s = *shared;
    if (s.udpSocket != sys::INVALID_UDP_SOCKET)
        return;
    const int socket = sys::udpOpen();
    if (socket == sys::INVALID_UDP_SOCKET) {
        log(LOG_ERROR, "enableUDPConsole: failed to create socket - got Error: %d\n", sys::udpLastError());
        return;
    }
    char* copy = strdup(name ? name : "");
    if (!copy) {
        sys::udpClose(socket);
        return;
    }
    s.udpSocket = socket;
    s.udpTarget = sys::udpTarget(address, port);
    s.udpName = copy;
    log(LOG_INFO, "Enabled UDP Logging to %s:%u\n", address, unsigned(port));
    s.sendName('H');
    // The console's state is the worker's share: a worker left behind sends from it safely.
    registerHook(HOOK_ALL, &s, udpHook);
}

void logger::udpHook(void* user, const message* record)
{
    uint8_t datagram[10 + MAX_TEXT + 1];
    datagram[0] = 'M';
    putI64(datagram + 1, record->time);
    datagram[9] = uint8_t(record->level);
    std::memcpy(datagram + 10, record->text, record->textLength);
    datagram[10 + record->textLength] = '\0';
    static_cast<core*>(user)->sendDatagram(datagram, 10 + record->textLength + 1);
}

void logger::sendPerf(int32_t first, int32_t second, int32_t third)
{
    core& s = *shared;
    const core::call call(s);
    if (!call.admitted || s.udpSocket == sys::INVALID_UDP_SOCKET)
        return;
    uint8_t datagram[13];
    datagram[0] = 'P';
    putU32(datagram + 1, uint32_t(first));
    putU32(datagram + 5, uint32_t(second));
    putU32(datagram + 9, uint32_t(third));
    s.sendDatagram(datagram, sizeof(datagram));
}

} // namespace tavrix::util
