#include "platformlib/json/parser.h"

#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "platformlib/hooks.h"

namespace {

constexpr int JSON_STACK_SIZE = 32;

// Byte classes; every lookup indexes with an unsigned char.
enum : uint8_t {
    CLASS_SPACE = 1,
    CLASS_DELIMITER = 2,
    CLASS_STRING_STOP = 4, // ends the plain run of a string: quote, backslash, NUL and control bytes
};

constexpr std::array<uint8_t, 256> makeClasses()
{
    std::array<uint8_t, 256> t{};
    for (unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'})
        t[c] |= CLASS_SPACE | CLASS_DELIMITER;
    for (unsigned char c : {'\0', ',', ':', ']', '}'})
        t[c] |= CLASS_DELIMITER;
    for (int c = 0; c < 0x20; ++c)
        t[c] |= CLASS_STRING_STOP;
    t[0x7F] |= CLASS_STRING_STOP;
    t['"'] |= CLASS_STRING_STOP;
    t['\\'] |= CLASS_STRING_STOP;
    return t;
}

constexpr std::array<uint8_t, 256> classes = makeClasses();

inline bool isSpace(char c) { return classes[static_cast<unsigned char>(c)] & CLASS_SPACE; }
inline bool isDelimiter(char c) { return classes[static_cast<unsigned char>(c)] & CLASS_DELIMITER; }
inline bool isStringStop(char c) { return classes[static_cast<unsigned char>(c)] & CLASS_STRING_STOP; }
inline bool isDigit(char c) { return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0' < 10u; }

inline int hexValue(char ch)
{
    const unsigned c = static_cast<unsigned char>(ch);
    if (c - '0' < 10u)
        return static_cast<int>(c - '0');
    if ((c | 0x20) - 'a' < 6u)
        return static_cast<int>((c | 0x20) - 'a' + 10);
    return -1;
}

const void* const boolFalse = nullptr;
const void* const boolTrue = reinterpret_cast<const void*>(uintptr_t{1});

// Decimal text to double; stops at the first byte that cannot continue the number.
double string2double(char* s, char** endptr)
{
    const char sign = *s;
    if (sign == '-')
        ++s;

    double result = 0;
    while (isDigit(*s))
        result = result * 10 + (*s++ - '0');

    if (*s == '.') {
        ++s;
        double fraction = 1;
        while (isDigit(*s)) {
            fraction *= 0.1;
            result += (*s++ - '0') * fraction;
        }
    }

    if (*s == 'e' || *s == 'E') {
        ++s;
        double base = 10;
        if (*s == '+') {
            ++s;
        } else if (*s == '-') {
            ++s;
            base = 0.1;
        }
        // Saturates: any exponent this large already gives infinity or zero.
        unsigned exponent = 0;
        while (isDigit(*s)) {
            const unsigned digit = *s++ - '0';
            exponent = exponent > (INT_MAX - digit) / 10 ? INT_MAX : exponent * 10 + digit;
        }
        double power = 1;
        for (; exponent; exponent >>= 1, base *= base)
            if (exponent & 1)
                power *= base;
        // Zero stays zero, whatever the exponent (0 times infinity would be NaN).
        if (result != 0)
            result *= power;
    }

    *endptr = s;
    return sign == '-' ? -result : result;
}

inline char* encodeUtf8(char* it, unsigned c)
{
    if (c < 0x80) {
        *it++ = static_cast<char>(c);
    } else if (c < 0x800) {
        *it++ = static_cast<char>(0xC0 | c >> 6);
        *it++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *it++ = static_cast<char>(0xE0 | c >> 12);
        *it++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *it++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return it;
}

// Decodes the string whose first character is at *cursor (just past the opening quote) over itself and
// NUL-terminates it. A string that runs into the end of the text ends there; the cursor never passes the
// text's NUL.
jsonParseStatus parseString(char** cursor, char** endptr)
{
    char* s = *cursor;
    while (!isStringStop(*s))
        ++s;
    char* it = s;
    for (;;) {
        const char c = *s;
        if (!isStringStop(c)) {
            *it++ = c;
            ++s;
            continue;
        }
        if (c == '"') {
            *it = '\0';
            ++s;
            break;
        }
        if (c == '\0') {
            *it = '\0';
            break;
        }
        if (c != '\\') {
            *endptr = s;
            return JSON_PARSE_BAD_STRING;
        }
        ++s;
        switch (*s) {
        case '"':
        case '/':
        case '\\':
            *it++ = *s;
            break;
        case 'b':
            *it++ = '\b';
            break;
        case 'f':
            *it++ = '\f';
            break;
        case 'n':
            *it++ = '\n';
            break;
        case 'r':
            *it++ = '\r';
            break;
        case 't':
            *it++ = '\t';
            break;
        case 'u': {
            unsigned code = 0;
            for (int i = 0; i < 4; ++i) {
                const int digit = hexValue(*++s);
                if (digit < 0) {
                    *endptr = s;
                    return JSON_PARSE_BAD_STRING;
                }
                code = code << 4 | digit;
            }
            it = encodeUtf8(it, code);
            break;
        }
        default:
            *endptr = s;
            return JSON_PARSE_BAD_STRING;
        }
        ++s;
    }
    if (!isDelimiter(*s)) {
        *endptr = s;
        return JSON_PARSE_BAD_STRING;
    }
    *cursor = s;
    return JSON_PARSE_OK;
}

// Each level's nodes form a circle through its tail until the level closes.
inline jsonNode* insertAfter(jsonNode* tail, jsonNode* node)
{
    if (!tail) {
        node->next = node;
        return node;
    }
    node->next = tail->next;
    tail->next = node;
    return node;
}

inline jsonValue listToValue(jsonTag tag, jsonNode* tail)
{
    if (!tail)
        return jsonValue(tag, nullptr);
    jsonNode* head = tail->next;
    tail->next = nullptr;
    return jsonValue(tag, head);
}

} // namespace

void jsonMisuse(const char* check, const char* file, int line)
{
    char text[512];
    std::snprintf(text, sizeof(text), "Assertion failed: %s, file %s, line %d\n", check, file, line);
    PLATFORM_LOG(tavrix::util::LOG_ERROR, "[Platform] %s", text);
    std::fputs(text, stderr);
    platform_getLogger()->flush(2000);
    std::abort();
}

jsonZoneAllocator::jsonZoneAllocator(allocCallback allocFn, freeCallback freeFn)
    : allocFn(allocFn && freeFn ? allocFn : std::malloc), freeFn(allocFn && freeFn ? freeFn : std::free)
{
}

jsonZoneAllocator::~jsonZoneAllocator() { deallocate(); }

void* jsonZoneAllocator::allocate(size_t size)
{
    size = (size + 7) & ~size_t(7);
    if (head && head->used + size <= zoneSize) {
        char* p = reinterpret_cast<char*>(head) + head->used;
        head->used += static_cast<uint32_t>(size);
        return p;
    }
    const size_t total = size + headerSize;
    zone* z = static_cast<zone*>(allocFn(total > zoneSize ? total : zoneSize));
    if (!z)
        throw std::bad_alloc();
    z->used = static_cast<uint32_t>(total);
    // A large block gets a zone of its own behind the head, which keeps serving small requests.
    if (total > zoneSize && head) {
        z->next = head->next;
        head->next = z;
    } else {
        z->next = head;
        head = z;
    }
    return reinterpret_cast<char*>(z) + headerSize;
}

void jsonZoneAllocator::deallocate()
{
    while (head) {
        zone* next = head->next;
        freeFn(head);
        head = next;
    }
}

jsonParseStatus jsonParse(char* s, char** endptr, jsonValue* value, jsonZoneAllocator& allocator)
{
    jsonNode* tails[JSON_STACK_SIZE];
    jsonTag tags[JSON_STACK_SIZE];
    char* keys[JSON_STACK_SIZE];
    int pos = -1;
    bool separator = true;

    for (;;) {
        while (isSpace(*s))
            ++s;
        *endptr = s;
        if (*s == '\0')
            return JSON_PARSE_BREAKING_BAD;

        jsonValue o;
        const char c = *s++;
        switch (c) {
        case '"': {
            o = jsonValue(JSON_TAG_STRING, s);
            const jsonParseStatus status = parseString(&s, endptr);
            if (status != JSON_PARSE_OK)
                return status;
            break;
        }
        case '-':
            if (!isDigit(*s) && *s != '.') {
                *endptr = s;
                return JSON_PARSE_BAD_NUMBER;
            }
            [[fallthrough]];
        case '0':
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7':
        case '8':
        case '9':
            o = string2double(s - 1, &s);
            if (!isDelimiter(*s)) {
                *endptr = s;
                return JSON_PARSE_BAD_NUMBER;
            }
            break;
        case 't':
            if (!(s[0] == 'r' && s[1] == 'u' && s[2] == 'e' && isDelimiter(s[3])))
                return JSON_PARSE_BAD_IDENTIFIER;
            o = jsonValue(JSON_TAG_BOOL, boolTrue);
            s += 3;
            break;
        case 'f':
            if (!(s[0] == 'a' && s[1] == 'l' && s[2] == 's' && s[3] == 'e' && isDelimiter(s[4])))
                return JSON_PARSE_BAD_IDENTIFIER;
            o = jsonValue(JSON_TAG_BOOL, boolFalse);
            s += 4;
            break;
        case 'n':
            if (!(s[0] == 'u' && s[1] == 'l' && s[2] == 'l' && isDelimiter(s[3])))
                return JSON_PARSE_BAD_IDENTIFIER;
            s += 3;
            break;
        case '[':
        case '{':
            if (pos == JSON_STACK_SIZE - 1)
                return JSON_PARSE_STACK_OVERFLOW;
            ++pos;
            tails[pos] = nullptr;
            tags[pos] = c == '[' ? JSON_TAG_ARRAY : JSON_TAG_OBJECT;
            keys[pos] = nullptr;
            separator = true;
            continue;
        case ']':
            if (pos == -1)
                return JSON_PARSE_STACK_UNDERFLOW;
            if (tags[pos] != JSON_TAG_ARRAY)
                return JSON_PARSE_MISMATCH_BRACKET;
            o = listToValue(JSON_TAG_ARRAY, tails[pos--]);
            break;
        case '}':
            if (pos == -1)
                return JSON_PARSE_STACK_UNDERFLOW;
            if (tags[pos] != JSON_TAG_OBJECT)
                return JSON_PARSE_MISMATCH_BRACKET;
            if (keys[pos])
                return JSON_PARSE_UNEXPECTED_CHARACTER;
            o = listToValue(JSON_TAG_OBJECT, tails[pos--]);
            break;
        case ',':
            // At the top level separator is always set, so keys[pos] is only read inside a container.
            if (separator || keys[pos])
                return JSON_PARSE_UNEXPECTED_CHARACTER;
            separator = true;
            continue;
        case ':':
            if (separator || !keys[pos])
                return JSON_PARSE_UNEXPECTED_CHARACTER;
            separator = true;
            continue;
        default:
            return JSON_PARSE_UNEXPECTED_CHARACTER;
        }

        separator = false;

        if (pos == -1) {
            *endptr = s;
            *value = o;
            return JSON_PARSE_OK;
        }

        jsonNode* node;
        if (tags[pos] == JSON_TAG_OBJECT) {
            if (!keys[pos]) {
                if (o.getTag() != JSON_TAG_STRING)
                    return JSON_PARSE_UNQUOTED_KEY;
                keys[pos] = o.toString();
                continue;
            }
            node = static_cast<jsonNode*>(allocator.allocate(sizeof(jsonNode)));
            node->key = keys[pos];
            keys[pos] = nullptr;
        } else {
            node = static_cast<jsonNode*>(allocator.allocate(offsetof(jsonNode, key)));
        }
        node->value = o;
        tails[pos] = insertAfter(tails[pos], node);
    }
}
