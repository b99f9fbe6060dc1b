#include "platformlib/util/exception.h"

#include <cstdio>
#include <cstring>

namespace tavrix::util {

namespace {
void copyBounded(char* dst, std::size_t size, const char* src)
{
    std::strncpy(dst, src ? src : "", size);
    dst[size - 1] = '\0';
}
} // namespace

Exception::Exception() : message{}, file{}, function{}, line(0) {}

Exception::Exception(const char* format, ...) : Exception()
{
    va_list args;
    va_start(args, format);
    setMessageV(format, args);
    va_end(args);
}

void Exception::setLocation(const char* file_, int32_t line_, const char* function_)
{
    copyBounded(file, sizeof(file), file_);
    copyBounded(function, sizeof(function), function_);
    line = line_;
}

void Exception::setMessageV(const char* format, va_list args)
{
    file[0] = '\0';
    function[0] = '\0';
    std::vsnprintf(message, sizeof(message), format, args);
    message[sizeof(message) - 1] = '\0';
}

} // namespace tavrix::util

FatalErrorException::FatalErrorException(const char* file, int32_t line, const char* function, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    setMessageV(format, args);
    va_end(args);
    setLocation(file, line, function);
}
