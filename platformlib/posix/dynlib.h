#pragma once
// A shared library loaded for the lifetime of the object.

namespace tavrix::sys {

class dynLib {
public:
    // Throws a tavrix::util::Exception when the library cannot be loaded.
    explicit dynLib(const char* fileName);
    ~dynLib();
    dynLib(const dynLib&) = delete;
    dynLib& operator=(const dynLib&) = delete;

    // Null (and one ERROR line) when the library exports no such symbol.
    void* getProcAddress(const char* symbol) const;
    // The platform's file extension for shared libraries, without the dot.
    static const char* extension();

private:
    void* handle;
    char* name;
};

} // namespace tavrix::sys
