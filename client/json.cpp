#include "client/json.h"

#include <cassert>
#include <cstdio>
#include <cstring>
#include <new>

#include "client/clientlogger.h"

namespace tavrix {

namespace {

const char* const statusNames[] = {
    "JSON_PARSE_OK",
    "JSON_PARSE_BAD_NUMBER",
    "JSON_PARSE_BAD_STRING",
    "JSON_PARSE_BAD_IDENTIFIER",
    "JSON_PARSE_STACK_OVERFLOW",
    "JSON_PARSE_STACK_UNDERFLOW",
    "JSON_PARSE_MISMATCH_BRACKET",
    "JSON_PARSE_UNEXPECTED_CHARACTER",
    "JSON_PARSE_UNQUOTED_KEY",
    "JSON_PARSE_BREAKING_BAD",
};

// The content store's file reads, installed by it.
struct fileSource {
    json::readFileCallback fileRead = nullptr;
    json::releaseFileCallback fileRelease = nullptr;
};
fileSource source;

} // namespace

// Zones are at most a node above 4 KiB, far below the tracking allocator's 32-bit limit.
void* jsonAlloc(size_t size) { return roalloc(static_cast<uint32_t>(size)); }

void jsonFree(void* pointer) { rofree(pointer); }

void json::setFileSource(readFileCallback readFile, releaseFileCallback releaseFile)
{
    source.fileRead = readFile;
    source.fileRelease = releaseFile;
}

// The zone allocator sits in the tracking allocator as well, so a leaked document is reported whole.
json::json()
    : src(nullptr), len(0), allocator(new (roalloc(sizeof(jsonZoneAllocator))) jsonZoneAllocator(jsonAlloc, jsonFree))
{
}

json::~json()
{
    allocator->~jsonZoneAllocator();
    rofree(allocator);
    if (src)
        rofree(src);
}

bool json::parse(const char* text, uint32_t length, jsonValue* value, const char* name)
{
    if (src) {
        getLogger()->logEx(util::LOG_ERROR, __FILE__, __LINE__, TAVRIX_FUNC,
                           "json::parse() -> multiple cycles per instance are not supported.\n");
        return false;
    }
    if (length == 0)
        length = static_cast<uint32_t>(std::strlen(text));
    if (length == 0) {
        CLIENT_LOG(util::LOG_ERROR, "json::parse() -> got empty String\n");
        return false;
    }
    len = length;
    src = static_cast<char*>(roalloc(len + 1));
    std::memcpy(src, text, len);
    src[len] = '\0';

    char* endptr = nullptr;
    const jsonParseStatus status = jsonParse(src, &endptr, value, *allocator);
    if (status == JSON_PARSE_OK)
        return true;
    printError(name ? name : "<src>", status, endptr, src, len);
    return false;
}

bool json::parseFile(const char* path, jsonValue* value)
{
    uint32_t size = 0;
    void* data = source.fileRead ? source.fileRead(path, &size) : nullptr;
    if (!data) {
        CLIENT_LOG(util::LOG_ERROR, "json::parseFile() -> File I/O Error\n");
        return false;
    }
    const bool parsed = parse(static_cast<const char*>(data), size, value, path);
    source.fileRelease(data);
    return parsed;
}

void printError(const char* name, jsonParseStatus status, char* endptr, char* src, uint32_t len)
{
    assert(status >= 0 && status < static_cast<int>(sizeof(statusNames) / sizeof(statusNames[0])));
    util::logger* logger = getLogger();

    char* lineStart = endptr;
    while (lineStart != src && *lineStart != '\n')
        --lineStart;
    if (lineStart != endptr && *lineStart == '\n')
        ++lineStart;
    int line = 1;
    for (const char* p = src; p != lineStart; ++p)
        if (*p == '\n')
            ++line;
    int column = static_cast<int>(endptr - lineStart);
    logger->logEx(util::LOG_ERROR, __FILE__, __LINE__, TAVRIX_FUNC, "%s:%d:%d: error %s\n", name, line, column + 1,
                  statusNames[status]);

    // Bytes that print wider than one column before the error position move the caret along with them.
    const char* const sourceEnd = src + len;
    for (const char* p = lineStart; p != sourceEnd && *p != '\n'; ++p) {
        const int beforeError = p < endptr;
        switch (*p) {
        case '\0': // where the parser ended a string
            logger->logEx(util::LOG_ERROR, __FILE__, __LINE__, TAVRIX_FUNC, "\"");
            break;
        case '\b':
            logger->logEx(util::LOG_ERROR, __FILE__, __LINE__, TAVRIX_FUNC, "\\b");
            column += beforeError;
            break;
        case '\f':
            logger->logEx(util::LOG_ERROR, __FILE__, __LINE__, TAVRIX_FUNC, "\\f");
            column += beforeError;
            break;
        case '\r':
            logger->logEx(util::LOG_ERROR, __FILE__, __LINE__, TAVRIX_FUNC, "\\r");
            column += beforeError;
            break;
        case '\t':
            logger->logEx(util::LOG_ERROR, __FILE__, __LINE__, TAVRIX_FUNC, "%*s", 4, "");
            column += 3 * beforeError;
            break;
        default:
            std::fputc(*p, stderr);
            break;
        }
    }
    logger->logEx(util::LOG_ERROR, __FILE__, __LINE__, TAVRIX_FUNC, "\n%*s\n", column + 1, "^");
}

} // namespace tavrix
