#include "platformlib/json/parser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// The text in a heap block of exactly its size plus the NUL, so that a read past the end is caught under
// the address sanitizer.
struct text {
    explicit text(const std::string& s) : size(s.size()), bytes(static_cast<char*>(std::malloc(s.size() + 1)))
    {
        std::memcpy(bytes, s.data(), s.size());
        bytes[size] = '\0';
    }
    ~text() { std::free(bytes); }
    text(const text&) = delete;
    text& operator=(const text&) = delete;

    size_t size;
    char* bytes;
};

struct parsed {
    explicit parsed(const std::string& s) : source(s)
    {
        status = jsonParse(source.bytes, &end, &value, zones);
    }
    ptrdiff_t endOffset() const { return end - source.bytes; }

    text source;
    jsonZoneAllocator zones;
    char* end = nullptr;
    jsonValue value{1234.5};
    jsonParseStatus status;
};

std::string nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

struct statusCase {
    std::string input;
    jsonParseStatus status;
    ptrdiff_t end; // offset of the end position; -1 when not checked
};

TEST(jsonParse, statusTable)
{
    const statusCase cases[] = {
        {"", JSON_PARSE_BREAKING_BAD, 0},
        {"   ", JSON_PARSE_BREAKING_BAD, 3},
        {"[1,", JSON_PARSE_BREAKING_BAD, 3},
        {"[1, \n", JSON_PARSE_BREAKING_BAD, 5},
        {"{\"a\"", JSON_PARSE_BREAKING_BAD, 4},
        {"[\"abc", JSON_PARSE_BREAKING_BAD, 5},
        {nested(32), JSON_PARSE_OK, 64},
        {std::string(33, '['), JSON_PARSE_STACK_OVERFLOW, 32},
        {"]", JSON_PARSE_STACK_UNDERFLOW, 0},
        {"}", JSON_PARSE_STACK_UNDERFLOW, 0},
        {"[}", JSON_PARSE_MISMATCH_BRACKET, 1},
        {"{]", JSON_PARSE_MISMATCH_BRACKET, 1},
        {"{1:2}", JSON_PARSE_UNQUOTED_KEY, 1},
        {"{[]:1}", JSON_PARSE_UNQUOTED_KEY, 2},
        {"{\"a\":1,\"b\":}", JSON_PARSE_UNEXPECTED_CHARACTER, 11},
        {"{\"a\"}", JSON_PARSE_UNEXPECTED_CHARACTER, 4},
        {"tru", JSON_PARSE_BAD_IDENTIFIER, 0},
        {"nulls", JSON_PARSE_BAD_IDENTIFIER, 0},
        {"[fals]", JSON_PARSE_BAD_IDENTIFIER, 1},
        {"True", JSON_PARSE_UNEXPECTED_CHARACTER, 0},
        {"0x10", JSON_PARSE_BAD_NUMBER, 1},
        {"-x", JSON_PARSE_BAD_NUMBER, 1},
        {"-", JSON_PARSE_BAD_NUMBER, 1},
        {"1.2.3", JSON_PARSE_BAD_NUMBER, 3},
        {"[12a]", JSON_PARSE_BAD_NUMBER, 3},
        {".5", JSON_PARSE_UNEXPECTED_CHARACTER, 0},
        {"+1", JSON_PARSE_UNEXPECTED_CHARACTER, 0},
        {"\xE9", JSON_PARSE_UNEXPECTED_CHARACTER, 0},
        {"~", JSON_PARSE_UNEXPECTED_CHARACTER, 0},
        {"\"\\x\"", JSON_PARSE_BAD_STRING, 2},
        {"\"a\x01\"", JSON_PARSE_BAD_STRING, 2},
        {"\"a\x7F\"", JSON_PARSE_BAD_STRING, 2},
        {"\"a\tb\"", JSON_PARSE_BAD_STRING, 2},
        {"\"ab\"x", JSON_PARSE_BAD_STRING, 4},
        {"\"\\u12\"", JSON_PARSE_BAD_STRING, 5},
        {"\"\\u12", JSON_PARSE_BAD_STRING, 5},
        {"\"\\u00g0\"", JSON_PARSE_BAD_STRING, 5},
        {"\"\\", JSON_PARSE_BAD_STRING, 2},
        {"[,1]", JSON_PARSE_UNEXPECTED_CHARACTER, 1},
        {"[1,,2]", JSON_PARSE_UNEXPECTED_CHARACTER, 3},
        {"{\"a\",1}", JSON_PARSE_UNEXPECTED_CHARACTER, 4},
        {"[1:2]", JSON_PARSE_UNEXPECTED_CHARACTER, 2},
        {"{\"a\"::1}", JSON_PARSE_UNEXPECTED_CHARACTER, 5},
        {"{\"a\":1:2}", JSON_PARSE_UNEXPECTED_CHARACTER, 6},
        {",", JSON_PARSE_UNEXPECTED_CHARACTER, 0},
        {":", JSON_PARSE_UNEXPECTED_CHARACTER, 0},
        {"1 garbage", JSON_PARSE_OK, 1},
        {"[1] ]", JSON_PARSE_OK, 3},
        {"\"ab\" x", JSON_PARSE_OK, 4},
        {" \t\n\v\f\rnull", JSON_PARSE_OK, 10},
    };
    for (const statusCase& c : cases) {
        SCOPED_TRACE("input: " + c.input);
        parsed p(c.input);
        EXPECT_EQ(p.status, c.status);
        if (c.end >= 0) {
            EXPECT_EQ(p.endOffset(), c.end);
        }
        if (c.status != JSON_PARSE_OK) {
            EXPECT_EQ(p.value.toNumber(), 1234.5) << "the value out is untouched on failure";
        }
    }
}

TEST(jsonParse, nestingLimitIsThirtyTwoOpenContainers)
{
    parsed ok(nested(32));
    ASSERT_EQ(ok.status, JSON_PARSE_OK);
    jsonValue v = ok.value;
    for (int depth = 1; depth < 32; ++depth) {
        ASSERT_EQ(v.getTag(), JSON_TAG_ARRAY);
        v = v.toNode()->value;
    }
    ASSERT_EQ(v.getTag(), JSON_TAG_ARRAY);
    EXPECT_EQ(v.toNode(), nullptr);

    EXPECT_EQ(parsed("{\"a\":" + nested(31) + "}").status, JSON_PARSE_OK);
    EXPECT_EQ(parsed("{\"a\":" + nested(32) + "}").status, JSON_PARSE_STACK_OVERFLOW);
}

TEST(jsonParse, numbers)
{
    const struct {
        const char* input;
        double value;
    } cases[] = {
        {"0", 0.0},
        {"7", 7.0},
        {"-5", -5.0},
        {"1e3", 1000.0},
        {"1E2", 100.0},
        {"1e+2", 100.0},
        {"2.5e-1", 0.25},
        {"0.5", 0.5},
        {"-0.0", -0.0},
        {"-0", -0.0},
        {"-.5", -0.5},
        {"-.", -0.0},
        {"007", 7.0},
        {"1.", 1.0},
        {"1e", 1.0},
        {"1e-", 1.0},
        {"65533", 65533.0},
        {"1e22", 1e22},
        {"1e400", INFINITY},
        {"-1e99999999999999999999", -INFINITY},
        {"1e-99999999999999999999", 0.0},
        {"0e400", 0.0},
        {"-0e99999999999", -0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        parsed p(c.input);
        ASSERT_EQ(p.status, JSON_PARSE_OK);
        ASSERT_EQ(p.value.getTag(), JSON_TAG_NUMBER);
        EXPECT_TRUE(p.value.isDouble());
        const double got = p.value.toNumber();
        EXPECT_EQ(got, c.value);
        EXPECT_EQ(std::signbit(got), std::signbit(c.value));
    }
}

TEST(jsonParse, strings)
{
    const struct {
        const char* input;
        std::string value;
    } cases[] = {
        {"\"\"", ""},
        {"\"plain\"", "plain"},
        {"\"\\u00e9\"", "\xC3\xA9"},
        {"\"\\u00E9\"", "\xC3\xA9"},
        {"\"\\u20ac\"", "\xE2\x82\xAC"},
        {"\"\\u0041\\u007f\"", "A\x7F"},
        {"\"\\u07FF\\u0800\\uFFFF\"", "\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
        // Surrogate halves are written one by one.
        {"\"\\ud83d\\ude00\"", "\xED\xA0\xBD\xED\xB8\x80"},
        {"\"\\\"\\/\\\\\\b\\f\\n\\r\\t\"", "\"/\\\b\f\n\r\t"},
        {"\"caf\xC3\xA9 \xFF\"", "caf\xC3\xA9 \xFF"},
        // A string that runs into the end of the text ends there, decoded and terminated.
        {"\"abc", "abc"},
        {"\"ab\\ncd", "ab\ncd"},
        {"\"\\u00e9xyz", "\xC3\xA9xyz"},
        {"\"x\\\\", "x\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        parsed p(c.input);
        ASSERT_EQ(p.status, JSON_PARSE_OK);
        ASSERT_EQ(p.value.getTag(), JSON_TAG_STRING);
        EXPECT_EQ(std::string(p.value.toString()), c.value);
        EXPECT_EQ(p.value.toString(), p.source.bytes + 1) << "strings stay in the text";
        EXPECT_LE(p.endOffset(), static_cast<ptrdiff_t>(p.source.size));
    }
}

TEST(jsonParse, literals)
{
    parsed t("true"), f("false"), n("null");
    ASSERT_EQ(t.status, JSON_PARSE_OK);
    ASSERT_EQ(t.value.getTag(), JSON_TAG_BOOL);
    EXPECT_TRUE(t.value.toBool());
    ASSERT_EQ(f.value.getTag(), JSON_TAG_BOOL);
    EXPECT_FALSE(f.value.toBool());
    ASSERT_EQ(n.status, JSON_PARSE_OK);
    EXPECT_EQ(n.value.getTag(), JSON_TAG_NULL);
    EXPECT_EQ(n.value.getPayload(), 0u);
    EXPECT_EQ(parsed("[true,false,null]").status, JSON_PARSE_OK);
}

std::vector<jsonNode*> nodes(jsonValue v)
{
    std::vector<jsonNode*> out;
    for (jsonNode* n : v)
        out.push_back(n);
    return out;
}

TEST(jsonParse, containersKeepTextOrderAndDuplicateKeys)
{
    parsed p("{\"b\": [1, \"two\", {}, []], \"a\": true, \"b\": null}");
    ASSERT_EQ(p.status, JSON_PARSE_OK);
    ASSERT_EQ(p.value.getTag(), JSON_TAG_OBJECT);
    const std::vector<jsonNode*> members = nodes(p.value);
    ASSERT_EQ(members.size(), 3u);
    EXPECT_STREQ(members[0]->key, "b");
    EXPECT_STREQ(members[1]->key, "a");
    EXPECT_STREQ(members[2]->key, "b");
    EXPECT_EQ(members[2]->next, nullptr);
    EXPECT_EQ(members[1]->value.getTag(), JSON_TAG_BOOL);
    EXPECT_EQ(members[2]->value.getTag(), JSON_TAG_NULL);

    const std::vector<jsonNode*> items = nodes(members[0]->value);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0]->value.toNumber(), 1.0);
    EXPECT_STREQ(items[1]->value.toString(), "two");
    EXPECT_EQ(items[2]->value.getTag(), JSON_TAG_OBJECT);
    EXPECT_EQ(items[2]->value.getPayload(), 0u);
    EXPECT_EQ(items[3]->value.getTag(), JSON_TAG_ARRAY);
    EXPECT_EQ(items[3]->value.getPayload(), 0u);
    EXPECT_EQ(begin(items[3]->value), end(items[3]->value));
}

TEST(jsonParse, acceptedQuirks)
{
    parsed noComma("[1 2]");
    ASSERT_EQ(noComma.status, JSON_PARSE_OK);
    ASSERT_EQ(nodes(noComma.value).size(), 2u);
    EXPECT_EQ(nodes(noComma.value)[1]->value.toNumber(), 2.0);

    parsed noColon("{\"a\" 1}");
    ASSERT_EQ(noColon.status, JSON_PARSE_OK);
    ASSERT_EQ(nodes(noColon.value).size(), 1u);
    EXPECT_STREQ(nodes(noColon.value)[0]->key, "a");
    EXPECT_EQ(nodes(noColon.value)[0]->value.toNumber(), 1.0);

    parsed trailing("[1,]");
    ASSERT_EQ(trailing.status, JSON_PARSE_OK);
    EXPECT_EQ(nodes(trailing.value).size(), 1u);

    parsed trailingMember("{\"a\":1,}");
    ASSERT_EQ(trailingMember.status, JSON_PARSE_OK);
    EXPECT_EQ(nodes(trailingMember.value).size(), 1u);
}

TEST(jsonValue, boxing)
{
    const jsonValue null;
    EXPECT_EQ(null.ival >> 32, 0x7FFF8000u);
    EXPECT_EQ(null.ival & 0xFFFFFFFFu, 0u);
    EXPECT_EQ(null.getTag(), JSON_TAG_NULL);

    jsonValue edge;
    edge.ival = 0x7FF8000000000000ULL;
    EXPECT_TRUE(edge.isDouble());
    edge.ival = 0x7FF8000000000001ULL;
    EXPECT_FALSE(edge.isDouble());
    EXPECT_TRUE(jsonValue(-1.0).isDouble());
    EXPECT_TRUE(jsonValue(-INFINITY).isDouble());
    EXPECT_TRUE(jsonValue(static_cast<double>(NAN)).isDouble());

    int local = 0;
    const jsonValue object(JSON_TAG_OBJECT, &local);
    EXPECT_EQ(object.getTag(), JSON_TAG_OBJECT);
    EXPECT_EQ(object.ival, 0x7FF8000000000000ULL | (uint64_t(4) << 47) | reinterpret_cast<uintptr_t>(&local));
    EXPECT_EQ(reinterpret_cast<int*>(object.toNode()), &local);
    // Heap addresses fit the payload as well.
    void* heap = std::malloc(64);
    EXPECT_EQ(jsonValue(JSON_TAG_STRING, heap).toString(), heap);
    std::free(heap);
}

// Checked in every build, the release build included: the check's text, then the program stops.
TEST(jsonValueDeathTest, accessorOfAnotherTagStops)
{
    const jsonValue number(1.0);
    const jsonValue string(JSON_TAG_STRING, "x");
    EXPECT_DEATH(number.toString(), "Assertion failed: getTag\\(\\) == JSON_TAG_STRING, file platformlib/json/parser.h, line ");
    EXPECT_DEATH(string.toNumber(), "getTag\\(\\) == JSON_TAG_NUMBER");
    EXPECT_DEATH(string.toBool(), "getTag\\(\\) == JSON_TAG_BOOL");
    EXPECT_DEATH(string.toNode(), "getTag\\(\\) == JSON_TAG_ARRAY");
    EXPECT_DEATH(number.getPayload(), "isDouble");
}

// Records every zone the allocator takes and gives back.
struct zoneLog {
    static inline std::vector<size_t> sizes;
    static inline std::vector<void*> taken, released;
    static void* take(size_t size)
    {
        void* p = std::malloc(size);
        sizes.push_back(size);
        taken.push_back(p);
        return p;
    }
    static void give(void* p)
    {
        released.push_back(p);
        std::free(p);
    }
    zoneLog()
    {
        sizes.clear();
        taken.clear();
        released.clear();
    }
};

TEST(jsonZoneAllocator, largeRequestGetsItsOwnZoneBehindTheHead)
{
    zoneLog log;
    {
        jsonZoneAllocator zones(zoneLog::take, zoneLog::give);
        char* a = static_cast<char*>(zones.allocate(3));
        char* big = static_cast<char*>(zones.allocate(5000));
        char* b = static_cast<char*>(zones.allocate(16));
        EXPECT_EQ(b, a + 8) << "the head keeps serving small requests";
        EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 8, 0u);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(big) % 8, 0u);
        std::memset(big, 0xAB, 5000);
        ASSERT_EQ(log.sizes.size(), 2u);
        EXPECT_EQ(log.sizes[0], 4096u);
        EXPECT_GE(log.sizes[1], 5000u);
        zones.deallocate();
        ASSERT_EQ(log.released.size(), 2u);
        EXPECT_EQ(log.released[0], log.taken[0]);
        EXPECT_EQ(log.released[1], log.taken[1]) << "linked after the head";
        zones.allocate(8);
    }
    EXPECT_EQ(log.released.size(), 3u) << "the destructor releases what is left";
}

TEST(jsonZoneAllocator, zonesFillUpToTheirSize)
{
    zoneLog log;
    jsonZoneAllocator zones(zoneLog::take, zoneLog::give);
    char* first = static_cast<char*>(zones.allocate(8));
    const char* zone = static_cast<const char*>(log.taken[0]);
    const size_t header = first - zone;
    EXPECT_EQ(header % 8, 0u);
    zones.allocate(4096 - header - 8); // exactly full
    EXPECT_EQ(log.taken.size(), 1u);
    char* next = static_cast<char*>(zones.allocate(1));
    ASSERT_EQ(log.taken.size(), 2u);
    EXPECT_EQ(next, static_cast<char*>(log.taken[1]) + header);
    EXPECT_EQ(static_cast<char*>(zones.allocate(1)), next + 8) << "the new zone is the head";

    // A large first request becomes the head; the next small one needs a zone of its own.
    zoneLog fresh;
    jsonZoneAllocator other(zoneLog::take, zoneLog::give);
    other.allocate(8000);
    other.allocate(8);
    EXPECT_EQ(fresh.taken.size(), 2u);
}

TEST(jsonZoneAllocator, eitherCallbackMissingMeansMallocAndFree)
{
    zoneLog log;
    jsonZoneAllocator zones(zoneLog::take, nullptr);
    zones.allocate(100);
    zones.deallocate();
    EXPECT_TRUE(log.taken.empty());
    EXPECT_TRUE(log.released.empty());
}

TEST(jsonZoneAllocator, failingCallbackThrows)
{
    jsonZoneAllocator zones([](size_t) -> void* { return nullptr; }, [](void*) {});
    EXPECT_THROW(zones.allocate(8), std::bad_alloc);
}

// Every string and node reachable from a successful parse lies inside the text or a zone and is terminated
// within the text.
void walk(jsonValue v, const text& source, int depth = 0)
{
    ASSERT_LE(depth, 32);
    const auto inside = [&](const char* p) { return p >= source.bytes && p <= source.bytes + source.size; };
    switch (v.getTag()) {
    case JSON_TAG_STRING:
        ASSERT_TRUE(inside(v.toString()));
        ASSERT_LE(v.toString() + std::strlen(v.toString()), source.bytes + source.size);
        break;
    case JSON_TAG_ARRAY:
    case JSON_TAG_OBJECT:
        for (jsonNode* n : v) {
            if (v.getTag() == JSON_TAG_OBJECT) {
                ASSERT_TRUE(inside(n->key));
                ASSERT_LE(n->key + std::strlen(n->key), source.bytes + source.size);
            }
            walk(n->value, source, depth + 1);
        }
        break;
    default:
        break;
    }
}

void parseAndCheck(const std::string& input)
{
    text source(input);
    jsonZoneAllocator zones;
    char* end = nullptr;
    jsonValue value(-1.0);
    const jsonParseStatus status = jsonParse(source.bytes, &end, &value, zones);
    ASSERT_LE(status, JSON_PARSE_BREAKING_BAD);
    ASSERT_GE(end, source.bytes);
    ASSERT_LE(end, source.bytes + source.size);
    if (status == JSON_PARSE_OK)
        walk(value, source);
    else
        ASSERT_EQ(value.ival, jsonValue(-1.0).ival);
}

const char* const sampleDocument = R"({
  "stone": {"id": 1, "isSolid": true, "surface": [
    {"texture": "stone.png", "slot": [0, 0]}, {"texture": "stone.png", "slot": [1, 0]},
    {"texture": "st\u00f6ne\\\"\n.png", "slot": [2.5e1, -0.0]}, {"texture": "x", "slot": [1e-3, 3]},
    {"texture": "y", "slot": [1E+2, 0]}, {"texture": "\ud83d\ude00", "slot": [7, 8]}]},
  "air": {"id": 0, "isSolid": false, "surface": [], "extra": null, "list": [[], {}, [[1], {"k": "v"}]]}
})";

TEST(jsonParse, everyPrefixOfADocument)
{
    const std::string doc = sampleDocument;
    ASSERT_EQ(parsed(doc).status, JSON_PARSE_OK);
    for (size_t n = 0; n < doc.size(); ++n) {
        SCOPED_TRACE(n);
        ASSERT_NO_FATAL_FAILURE(parseAndCheck(doc.substr(0, n)));
        const jsonParseStatus status = parsed(doc.substr(0, n)).status;
        EXPECT_NE(status, JSON_PARSE_OK) << "no prefix of an object is complete";
    }
}

TEST(jsonParse, randomMutationsOfADocument)
{
    const std::string doc = sampleDocument;
    const char specials[] = "\"\\{}[],:u0-.eE \x01\x7F\x80\xFF";
    std::mt19937 random(20240611);
    for (int round = 0; round < 20000; ++round) {
        std::string m = doc;
        const int edits = 1 + random() % 4;
        for (int e = 0; e < edits; ++e) {
            const size_t at = random() % (m.size() + 1);
            const char c = random() % 2 ? specials[random() % (sizeof(specials) - 1)] : static_cast<char>(random());
            switch (random() % 4) {
            case 0:
                if (at < m.size())
                    m[at] = c;
                break;
            case 1:
                m.insert(at, 1, c);
                break;
            case 2:
                if (at < m.size())
                    m.erase(at, 1);
                break;
            default:
                m.resize(at);
                break;
            }
        }
        SCOPED_TRACE(m);
        ASSERT_NO_FATAL_FAILURE(parseAndCheck(m));
    }
}

} // namespace
