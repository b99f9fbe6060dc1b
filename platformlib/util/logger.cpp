#include "platformlib/util/logger.h"

#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platformlib/util/exception.h"
#include "platformlib/util/littleendian.h"
#include "platformlib/util/textfile.h"

namespace tavrix::util {

namespace {

constexpr uint32_t IDLE_WAIT_MS = 3000;
constexpr uint32_t JOIN_MS = 500;
constexpr uint32_t MIN_TEXT = 63;
constexpr uint32_t HOOK_ALL = 0xFFFF;

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

void freeRecords(logger::message* record)
{
    while (record) {
        logger::message* next = record->next;
        std::free(record);
        record = next;
    }
}

} // namespace

logger::logger()
    : workerThread(nullptr), logFiles(nullptr), hookHead(nullptr), hookTail(nullptr), running(false),
      udpName(nullptr), udpSocket(sys::INVALID_UDP_SOCKET), udpTarget{}, queued(0), handled(0)
{
    running.exchange(true);
    workerThread = new thread("Logger - Worker", worker, this);
}

logger::~logger()
{
    running.exchange(false);
    if (workerThread) {
        queue.wakeAll();
        if (!stopWorker())
            return;
    }
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
        sendName('S');
        std::free(udpName);
        udpName = nullptr;
        sys::udpClose(udpSocket);
        udpSocket = sys::INVALID_UDP_SOCKET;
    }
}

// A thread cannot be killed safely here. When the worker outlives the join, the rest of the queue is taken
// from it unwritten, so it ends once the hooks of its current record return. A worker stuck even then is
// left running with everything it may touch (hooks, files, socket) kept.
bool logger::stopWorker()
{
    bool ended = workerThread->join(JOIN_MS) == JOIN_ENDED;
    if (!ended) {
        freeRecords(queue.takeAll());
        ended = workerThread->join(JOIN_MS) == JOIN_ENDED;
        if (!ended)
            workerThread->kill();
    }
    delete workerThread;
    workerThread = nullptr;
    return ended;
}

void logger::vlogEx(uint32_t level, const char* file, int32_t line, const char* function, const char* format,
                    va_list args)
{
    if (!running.load())
        return;
    char text[MAX_TEXT + 1];
    const int formatted = std::vsnprintf(text, sizeof(text), format, args);
    // The formatter reports the untruncated length; only what fits in the buffer was stored.
    const uint32_t length = formatted < 0 ? 0 : formatted > int(MAX_TEXT) ? MAX_TEXT : uint32_t(formatted);
    if (formatted < 0)
        text[0] = '\0';
    auto* record = static_cast<message*>(
        std::malloc(offsetof(message, text) + (length > MIN_TEXT ? length : MIN_TEXT) + 1));
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
    queued.fetch_add(1);
    queue.push(record);
}

void logger::runHooks(const message* record)
{
    std::lock_guard<spinlock> guard(hooksLock);
    for (const hook* h = hookHead; h; h = h->next)
        if (h->mask & uint32_t(record->level))
            h->callback(h->user, record);
}

uint32_t logger::worker(thread* self)
{
    logger* owner = static_cast<logger*>(self->getArg());
    for (;;) {
        if (message* record = owner->queue.take()) {
            owner->runHooks(record);
            std::free(record);
            owner->handled.fetch_add(1);
            continue;
        }
        if (!owner->running.load())
            return 0;
        owner->queue.waitWhileEmpty(owner->running, IDLE_WAIT_MS);
    }
}

bool logger::flush(uint32_t milliseconds)
{
    const uint64_t target = queued.load();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (handled.load() < target) {
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
    std::lock_guard<spinlock> guard(hooksLock);
    if (hookTail)
        hookTail->next = h;
    else
        hookHead = h;
    hookTail = h;
}

void logger::unregisterHook(uint32_t mask, void* user, hookCallback callback)
{
    std::lock_guard<spinlock> guard(hooksLock);
    hook* previous = nullptr;
    for (hook* h = hookHead; h; previous = h, h = h->next) {
        if (h->mask != mask || h->callback != callback || h->user != user)
            continue;
        if (previous)
            previous->next = h->next;
        else
            hookHead = h->next;
        if (hookTail == h)
            hookTail = previous;
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
        std::lock_guard<spinlock> guard(filesLock);
        node->next = logFiles;
        logFiles = node;
    }
    registerHook(mask, node, fileHook);
    return true;
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
    char tag[16];
    std::snprintf(tag, sizeof(tag), "(%s)", levelName(uint32_t(record->level)));
    std::fprintf(file, "[%0.5f] %-9s ", double(record->time) / 1000.0, tag);
    writeTextMode(file, record->text, record->textLength);
    std::fflush(file);
}

// Sockets need no start-up or clean-up here, unlike Winsock; the console starts with its socket.
void logger::enableUDPConsole(const char* name, const char* address, uint16_t port)
{
    if (udpSocket != sys::INVALID_UDP_SOCKET)
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
    udpSocket = socket;
    udpTarget = sys::udpTarget(address, port);
    udpName = copy;
    log(LOG_INFO, "Enabled UDP Logging to %s:%u\n", address, unsigned(port));
    sendName('H');
    registerHook(HOOK_ALL, this, udpHook);
}

void logger::sendDatagram(const uint8_t* data, size_t size) { sys::udpSendTo(udpSocket, udpTarget, data, size); }

void logger::sendName(uint8_t type)
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

void logger::udpHook(void* user, const message* record)
{
    uint8_t datagram[10 + MAX_TEXT + 1];
    datagram[0] = 'M';
    putI64(datagram + 1, record->time);
    datagram[9] = uint8_t(record->level);
    std::memcpy(datagram + 10, record->text, record->textLength);
    datagram[10 + record->textLength] = '\0';
    static_cast<logger*>(user)->sendDatagram(datagram, 10 + record->textLength + 1);
}

void logger::sendPerf(int32_t first, int32_t second, int32_t third)
{
    if (udpSocket == sys::INVALID_UDP_SOCKET)
        return;
    uint8_t datagram[13];
    datagram[0] = 'P';
    putU32(datagram + 1, uint32_t(first));
    putU32(datagram + 5, uint32_t(second));
    putU32(datagram + 9, uint32_t(third));
    sendDatagram(datagram, sizeof(datagram));
}

} // namespace tavrix::util
