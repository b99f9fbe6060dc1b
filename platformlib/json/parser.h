#pragma once
// In-place JSON parser: the text is decoded where it lies, strings stay inside it, containers are linked
// lists of nodes carved from a zone allocator, and values are NaN-boxed 64-bit words.
#include <bit>
#include <cstddef>
#include <cstdint>

enum jsonTag {
    JSON_TAG_NUMBER = 0,
    JSON_TAG_STRING = 1,
    JSON_TAG_BOOL = 2,
    JSON_TAG_ARRAY = 3,
    JSON_TAG_OBJECT = 4,
    JSON_TAG_NULL = 0xF,
};

constexpr uint64_t JSON_VALUE_PAYLOAD_MASK = (uint64_t(1) << 47) - 1;
constexpr uint64_t JSON_VALUE_NAN_MASK = 0x7FF8000000000000ULL;
constexpr uint64_t JSON_VALUE_TAG_MASK = 0xF;
constexpr int JSON_VALUE_TAG_SHIFT = 47;

struct jsonNode;

// A value read as another type than it holds is a programming error, in every build: the check's text
// goes to the log and to stderr, and the program stops.
[[noreturn]] void jsonMisuse(const char* check, const char* file, int line);
#define JSON_CHECK(condition) ((condition) ? void(0) : jsonMisuse(#condition, __FILE__, __LINE__))

// A double, or a quiet NaN whose low 51 bits carry a tag and a 47-bit payload (x86-64 user addresses fit).
struct jsonValue {
    uint64_t ival;

    jsonValue(double x) : ival(std::bit_cast<uint64_t>(x)) {}
    jsonValue(jsonTag tag = JSON_TAG_NULL, const void* payload = nullptr)
    {
        JSON_CHECK(static_cast<uint64_t>(tag) <= JSON_VALUE_TAG_MASK);
        JSON_CHECK(reinterpret_cast<uintptr_t>(payload) <= JSON_VALUE_PAYLOAD_MASK);
        ival = JSON_VALUE_NAN_MASK | (static_cast<uint64_t>(tag) << JSON_VALUE_TAG_SHIFT) |
               reinterpret_cast<uintptr_t>(payload);
    }

    bool isDouble() const { return static_cast<int64_t>(ival) <= static_cast<int64_t>(JSON_VALUE_NAN_MASK); }
    jsonTag getTag() const
    {
        return isDouble() ? JSON_TAG_NUMBER : jsonTag((ival >> JSON_VALUE_TAG_SHIFT) & JSON_VALUE_TAG_MASK);
    }
    uint64_t getPayload() const
    {
        JSON_CHECK(!isDouble());
        return ival & JSON_VALUE_PAYLOAD_MASK;
    }
    double toNumber() const
    {
        JSON_CHECK(getTag() == JSON_TAG_NUMBER);
        return std::bit_cast<double>(ival);
    }
    bool toBool() const
    {
        JSON_CHECK(getTag() == JSON_TAG_BOOL);
        return getPayload() != 0;
    }
    char* toString() const
    {
        JSON_CHECK(getTag() == JSON_TAG_STRING);
        return reinterpret_cast<char*>(getPayload());
    }
    jsonNode* toNode() const
    {
        JSON_CHECK(getTag() == JSON_TAG_ARRAY || getTag() == JSON_TAG_OBJECT);
        return reinterpret_cast<jsonNode*>(getPayload());
    }
};

// Array nodes are allocated without the key, so it must stay the last field.
struct jsonNode {
    jsonValue value;
    jsonNode* next;
    char* key;
};

struct jsonIterator {
    jsonNode* p;

    void operator++() { p = p->next; }
    bool operator!=(const jsonIterator& x) const { return p != x.p; }
    bool operator==(const jsonIterator& x) const { return p == x.p; }
    jsonNode* operator*() const { return p; }
};

inline jsonIterator begin(jsonValue o) { return jsonIterator{o.toNode()}; }
inline jsonIterator end(jsonValue) { return jsonIterator{nullptr}; }

enum jsonParseStatus {
    JSON_PARSE_OK,
    JSON_PARSE_BAD_NUMBER,
    JSON_PARSE_BAD_STRING,
    JSON_PARSE_BAD_IDENTIFIER,
    JSON_PARSE_STACK_OVERFLOW,
    JSON_PARSE_STACK_UNDERFLOW,
    JSON_PARSE_MISMATCH_BRACKET,
    JSON_PARSE_UNEXPECTED_CHARACTER,
    JSON_PARSE_UNQUOTED_KEY,
    JSON_PARSE_BREAKING_BAD,
};

// Bump allocation from zones of 4096 bytes; everything goes at once.
class jsonZoneAllocator {
public:
    typedef void* (*allocCallback)(size_t size);
    typedef void (*freeCallback)(void* pointer);

    static constexpr size_t zoneSize = 4096;

    // Both null or either null: malloc and free.
    jsonZoneAllocator(allocCallback allocFn = nullptr, freeCallback freeFn = nullptr);
    ~jsonZoneAllocator();
    jsonZoneAllocator(const jsonZoneAllocator&) = delete;
    jsonZoneAllocator& operator=(const jsonZoneAllocator&) = delete;

    // 8-byte aligned; never null (a failing callback throws std::bad_alloc).
    void* allocate(size_t size);
    void deallocate();

private:
    // A zone's header: the link and the bytes used, 16 bytes with 64-bit pointers. Nothing stores it.
    struct zone {
        zone* next;
        uint32_t used; // bytes used, header included
    };
    static constexpr size_t headerSize = (sizeof(zone) + 7) & ~size_t(7);

    zone* head = nullptr;
    allocCallback allocFn;
    freeCallback freeFn;
};

// Parses the NUL-terminated, writable text in place. On JSON_PARSE_OK *value is the top-level value and
// *endptr points just after it; otherwise *endptr marks the error and *value is untouched.
jsonParseStatus jsonParse(char* str, char** endptr, jsonValue* value, jsonZoneAllocator& allocator);
