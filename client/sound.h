#pragma once
// The OpenAL output device and the "Sound Worker" that runs every sound operation.

namespace tavrix::sound {
void init();
void final();
} // namespace tavrix::sound
