#pragma once
// One parsed JSON document: a private copy of the text and the zones of its nodes. Every value it yields
// lives exactly as long as the object.
#include <cstdint>

#include "platformlib/allocator/roalloc.h"
#include "platformlib/json/parser.h"

namespace tavrix {

// Zone callbacks over the tracking allocator.
void* jsonAlloc(size_t size);
void jsonFree(void* pointer);

class json : public roAlloc {
public:
    // How parseFile reads a file: the content store's readFile and releaseFile, installed by it.
    typedef void* (*readFileCallback)(const char* path, uint32_t* size);
    typedef void (*releaseFileCallback)(void* data);
    static void setFileSource(readFileCallback readFile, releaseFileCallback releaseFile);

    json();
    ~json();
    json(const json&) = delete;
    json& operator=(const json&) = delete;

    // A length of 0 takes the text as NUL-terminated; name (or "<src>") labels the error report.
    // An object parses once.
    bool parse(const char* text, uint32_t length, jsonValue* value, const char* name);
    bool parseFile(const char* path, jsonValue* value);

private:
    char* src;
    uint32_t len;
    jsonZoneAllocator* allocator;
};

// Compiler-style report: "name:line:column: error STATUS", the line echoed and a caret under the position.
void printError(const char* name, jsonParseStatus status, char* endptr, char* src, uint32_t len);

} // namespace tavrix
