#pragma once
// SIGTERM and SIGINT, the requests to close the program that do not come through its window.

namespace tavrix::sys {

// Holds them back from here on, pending, in the calling thread and every thread it starts later; called
// first thing at process entry, before any thread exists.
void blockCloseSignals();
// The calling thread takes them from here on, those pending included: each runs the handler, which may
// only do what a signal handler may (store to a lock-free atomic, say).
void takeCloseSignals(void (*handler)(int));

} // namespace tavrix::sys
