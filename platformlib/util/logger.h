#pragma once
// The system's logger: callers format and queue, the "Logger - Worker" thread hands every record to the
// hooks whose mask matches (log files, the UDP console).
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "platformlib/posix/thread.h"
#include "platformlib/posix/udpsocket.h"
#include "platformlib/spinlock.h"
#include "platformlib/taskqueue.h"
#include "platformlib/util/loggerinterface.h"

namespace tavrix::util {

class logger : public loggerInterface {
public:
    // Longest text a record keeps; longer messages are cut.
    static constexpr uint32_t MAX_TEXT = 16383;
    // File and function fields: shorter names are kept whole, longer ones as "..." and their tail.
    static constexpr uint32_t NAME_SIZE = 48;

    // One heap block per log call: the fixed fields, then the text and its NUL (never fewer than 64 bytes).
    // In-memory only, so it takes the natural 64-bit layout.
    struct message {
        message* next;
        int32_t level;
        int64_t time;
        int32_t line;
        char file[NAME_SIZE];
        char function[NAME_SIZE];
        uint32_t textLength;
        char text[];
    };

    typedef void (*hookCallback)(void* user, const message* record);

    struct hook {
        hook* next;
        uint32_t mask;
        hookCallback callback;
        void* user;
    };

    logger();
    logger(const logger&) = delete;
    logger& operator=(const logger&) = delete;

    // Formats and queues the record on the calling thread.
    void vlogEx(uint32_t level, const char* file, int32_t line, const char* function, const char* format,
                va_list args) override __attribute__((format(printf, 6, 0)));
    // Waits until every record queued before the call has been through the hooks; false on time-out.
    bool flush(uint32_t milliseconds) override;
    virtual ~logger();
    // Milliseconds; called on the logging thread, once per record.
    virtual int64_t getTime() = 0;

    void registerHook(uint32_t mask, void* user, hookCallback callback);
    void unregisterHook(uint32_t mask, void* user, hookCallback callback);
    bool addLogFile(const char* path, uint32_t mask);
    void enableUDPConsole(const char* name, const char* address, uint16_t port);
    void sendPerf(int32_t first, int32_t second, int32_t third);

    static const char* levelName(uint32_t level);
    static void fileHook(void* user, const message* record);
    static void udpHook(void* user, const message* record);

private:
    struct logFile {
        logFile* next;
        FILE* file;
        char* path;
        uint32_t mask;
    };

    static uint32_t worker(thread* self);

    void runHooks(const message* record);
    bool stopWorker();
    void sendName(uint8_t type);
    void sendDatagram(const uint8_t* data, size_t size);

    thread* workerThread;
    logFile* logFiles;
    spinlock filesLock;
    taskQueue<message, spinlock> queue;
    spinlock hooksLock;
    hook* hookHead;
    hook* hookTail;
    std::atomic<bool> running;
    char* udpName;
    int udpSocket;
    sys::udpAddress udpTarget;
    // Records queued so far and records through the hooks, for flush.
    std::atomic<uint64_t> queued;
    std::atomic<uint64_t> handled;
};

} // namespace tavrix::util
