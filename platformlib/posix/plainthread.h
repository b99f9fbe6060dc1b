#pragma once
// Bare threads with the system's default attributes: no name, no priority, no object of their own.
#include <cstdint>

namespace tavrix::sys {

struct plainThread;
typedef void (*plainThreadEntry)(void* argument);

// Starts entry(argument) at once. An exception that escapes entry is reported and ends the process.
// Null, with the system's error code in *error, when the thread cannot be created.
plainThread* startPlainThread(plainThreadEntry entry, void* argument, uint32_t* error);
// Waits, without a time limit, for the thread to end and releases the handle.
void joinPlainThread(plainThread* handle);
// Waits at most that long: true, with the handle released, when the thread ended; false, with the handle
// kept, when it still runs.
bool joinPlainThread(plainThread* handle, uint32_t milliseconds);

} // namespace tavrix::sys
