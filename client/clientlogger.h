#pragma once
// The client's logger: the windowing library's clock, client.log for every level and the UDP console.
#include <cstdint>

#include "platformlib/util/funcname.h"
#include "platformlib/util/logger.h"

namespace tavrix {

class clientLogger : public util::logger {
public:
    clientLogger();
    ~clientLogger() override;

    // Milliseconds of the windowing library's clock; 0 while the library is down.
    int64_t getTime() override;

    // OpenGL debug-output callback (the signature of GLDEBUGPROCARB).
    static void glDebugLogARB(uint32_t source, uint32_t type, uint32_t id, uint32_t severity, int32_t length,
                              const char* message, const void* userParam);
};

// The logger every client module writes to. Never null: while the client logger does not exist, the lines
// go to the platform logger (which discards them unless something else is installed).
util::logger* getLogger();

namespace client {
void createLogger();
// Stops the client logger (its queue written within the bounded joins, the console's stop datagram sent)
// and releases it. With othersMayLog (threads that may still log remain, and the process ends right after)
// the object is kept, stopped, for their late calls. False when its worker did not get through the queue in
// time: it may be left behind in a write that never ends (a log file nobody reads), holding the file, and
// the process must then end without flushing its open files again.
bool destroyLogger(bool othersMayLog = false);
// The printf-style error sink handed to keyed tables: ERROR, without a source location.
void logErrorPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
} // namespace client

} // namespace tavrix

// Every client log line carries its source location.
#define CLIENT_LOG(level, ...) tavrix::getLogger()->logEx((level), __FILE__, __LINE__, TAVRIX_FUNC, __VA_ARGS__)
