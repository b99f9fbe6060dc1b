#pragma once
// The OpenAL output device and the "Sound Worker" that runs every sound operation.

namespace tavrix::sound {

// Lists the output devices and, when there is one, starts the worker and queues the switch to the
// configured (or the system's default) device. Without a device the module disables itself.
void init();
// Stops the worker, which closes the device, and releases everything.
void final();
// Stops the worker (its join bounded), which closes the device, and releases nothing but the worker once
// it has ended: requests made later are refused. For a shutdown that cannot finish; false when the worker
// or a request was left behind.
bool stop();

// Queues the switch to the listed device of exactly this name; any other name does nothing.
void setOutputDevice(const char* name);

} // namespace tavrix::sound
