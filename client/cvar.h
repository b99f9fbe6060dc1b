#pragma once
// The configuration-variable store: named settings that any thread reads and writes, each held as a
// 64-bit integer, a double and a string at once; the persistent ones live in ./cvar.db between runs.
#include <cstdint>

namespace tavrix::cvar {

bool init();
void final();
// Writes ./cvar.db from the variables as they stand, each read under its own lock, and releases nothing:
// the store stays in use for threads that still run. For a shutdown that cannot finish.
void save();

// Registers a name: the value is stored only when the name is new; persist is set in every case.
// A string's len 0 means its NUL-terminated length.
void initialize(const char* name, int64_t value, uint8_t persist);
void initialize(const char* name, long long value, uint8_t persist);
void initialize(const char* name, int value, uint8_t persist);
void initialize(const char* name, float value, uint8_t persist);
void initialize(const char* name, double value, uint8_t persist);
void initialize(const char* name, const char* value, uint32_t len, uint8_t persist);

void set(const char* name, int64_t value);
void set(const char* name, long long value);
void set(const char* name, int value);
void set(const char* name, float value);
void set(const char* name, double value);
void set(const char* name, const char* value, uint32_t len);

// Reading a name that does not exist creates it (integer 0, not persistent).
int64_t getInt(const char* name);
int32_t getI32(const char* name);
bool getBool(const char* name);
double getDouble(const char* name);
float getFloat(const char* name);
// *len holds buf's size on entry and the bytes copied (without the NUL) on return.
void getStr(const char* name, char* buf, uint32_t* len);

void _delete(const char* name);

// The string buffer's size for len bytes.
uint32_t strCapacityFor(uint32_t len);

} // namespace tavrix::cvar
