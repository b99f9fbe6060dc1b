#pragma once
// What every whole-process test gives the client it starts.
#include <string>
#include <vector>

namespace tavrix::test {

// Under the sanitizers, the OpenGL driver's process-long tables are not the client's leaks (the driver has
// no frame pointers: only the slow unwinder reaches the frames the suppression names), and its threads'
// own synchronisation is invisible to the race detector. Sound goes to OpenAL Soft's null device: a
// machine without a sound card otherwise fails to open its default device, with ALSA's messages on stderr.
inline const std::vector<std::string> CLIENT_ENV = {
    "LSAN_OPTIONS=fast_unwind_on_malloc=0:print_suppressions=0:suppressions=" MESA_LEAKS,
    "TSAN_OPTIONS=suppressions=" MESA_RACES, "ALSOFT_DRIVERS=null"};

} // namespace tavrix::test
