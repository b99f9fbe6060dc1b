#pragma once
// The platform library's start and stop, and the system's version.
#include <cstdint>

#include "platformlib/hooks.h"

void platform_init();
void platform_final();

const char* platform_getVersionString();
int32_t platform_getBuildNumber();
const char* platform_getBuildDate();

// Build number of a compiler build-date text ("Feb  9 2015 21:09:43").
int32_t platform_buildNumberOf(const char* buildDate);
