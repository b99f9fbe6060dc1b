// libFuzzer target for the in-place JSON parser: any input must parse or fail cleanly, and every string and
// node of a successful parse must stay inside the text and the zones.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platformlib/json/parser.h"

namespace {

void check(jsonValue v, const char* begin, const char* end)
{
    switch (v.getTag()) {
    case JSON_TAG_STRING: {
        const char* s = v.toString();
        if (s < begin || s + std::strlen(s) > end)
            std::abort();
        break;
    }
    case JSON_TAG_ARRAY:
    case JSON_TAG_OBJECT:
        for (jsonNode* n : v) {
            if (v.getTag() == JSON_TAG_OBJECT && (n->key < begin || n->key + std::strlen(n->key) > end))
                std::abort();
            check(n->value, begin, end);
        }
        break;
    default:
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char* text = static_cast<char*>(std::malloc(size + 1));
    std::memcpy(text, data, size);
    text[size] = '\0';
    {
        jsonZoneAllocator zones;
        char* endptr = nullptr;
        jsonValue value;
        const jsonParseStatus status = jsonParse(text, &endptr, &value, zones);
        if (endptr < text || endptr > text + size || status > JSON_PARSE_BREAKING_BAD)
            std::abort();
        if (status == JSON_PARSE_OK)
            check(value, text, text + size);
    }
    std::free(text);
    return 0;
}
