#pragma once
// The client's start-up, frame loop and shutdown, run by the process entry.

namespace tavrix::client {

// False when the start-up failed; the shutdown runs in either case.
bool init();
// Returns when the frame loop has ended.
void run();
void final();

} // namespace tavrix::client
