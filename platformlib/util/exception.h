#pragma once
#include <cstdarg>
#include <cstdint>

namespace tavrix::util {

// Thrown by pointer; the handler that catches it owns and deletes it.
class Exception {
public:
    Exception();
    explicit Exception(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Deleted through a base pointer by the handlers.
    virtual ~Exception() = default;

    void setLocation(const char* file, int32_t line, const char* function);
    void setMessageV(const char* format, va_list args);

    const char* getMessage() const { return message; }
    const char* getFile() const { return file; }
    const char* getFunction() const { return function; }
    int32_t getLine() const { return line; }

private:
    char message[16384];
    char file[128];
    char function[128];
    int32_t line;
};

} // namespace tavrix::util

class FatalErrorException : public tavrix::util::Exception {
public:
    FatalErrorException(const char* file, int32_t line, const char* function, const char* format, ...)
        __attribute__((format(printf, 5, 6)));
};

#include "platformlib/util/funcname.h"

// The form every fatal failure uses: the current location and a printf-style message.
#define TAVRIX_FATAL(...) throw new FatalErrorException(__FILE__, __LINE__, TAVRIX_FUNC, __VA_ARGS__)
