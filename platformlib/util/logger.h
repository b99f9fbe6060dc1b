#pragma once
// The system's logger: callers format and queue, the "Logger - Worker" thread hands every record to the
// hooks whose mask matches (log files, the UDP console).
#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "platformlib/posix/thread.h"
#include "platformlib/util/loggerinterface.h"

namespace tavrix::util {

class logger : public loggerInterface {
public:
    // Longest text a record keeps; longer messages are cut.
    static constexpr uint32_t MAX_TEXT = 16383;
    // File and function fields: shorter names are kept whole, longer ones as "..." and their tail.
    static constexpr uint32_t NAME_SIZE = 48;

    // One record per log call: the fixed fields, then the text and its NUL (never fewer than 64 bytes).
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

    // The first steps of destruction: from here on calls are dropped; the calls already under way are
    // waited for (bounded), the worker is given its two bounded joins, what it did not reach is freed
    // unwritten and the console's stop datagram goes out. The object stays valid for late callers. A
    // subclass's destructor calls it first, so that no call reaches the subclass's getTime while it goes.
    // False when a call was still under way at the bound: the object must then be kept.
    bool stop();

    void registerHook(uint32_t mask, void* user, hookCallback callback);
    void unregisterHook(uint32_t mask, void* user, hookCallback callback);
    bool addLogFile(const char* path, uint32_t mask);
    void enableUDPConsole(const char* name, const char* address, uint16_t port);
    void sendPerf(int32_t first, int32_t second, int32_t third);

    static const char* levelName(uint32_t level);
    // vsnprintf's contract and bytes: writes at most size - 1 characters and a NUL, returns the untruncated
    // length. Formats of the plain conversions alone (%d %u %s %c %%) are written here, the rest by vsnprintf.
    static int formatText(char* out, size_t size, const char* format, va_list args) __attribute__((format(printf, 3, 0)));
    // Writes the record's line; the worker flushes the files after each run of records it took.
    static void fileHook(void* user, const message* record);
    static void udpHook(void* user, const message* record);

protected:
    // A logger that never runs: no worker, and every record of the base's own vlogEx is dropped. For a
    // stand-in that hands its calls on elsewhere.
    struct noWorker {};
    explicit logger(noWorker);

private:
    // What the worker touches, owned by the logger and the worker together and freed by the last of the
    // two to let go: a worker left behind in a hook after destruction finds all of it still there.
    struct core;

    static uint32_t worker(thread* self);
    void stopWorker();

    thread* workerThread;
    core* shared;
    // A call was still under way when stop gave up waiting: what it may touch is kept.
    bool callsLeftBehind;
};

} // namespace tavrix::util
