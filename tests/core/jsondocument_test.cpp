#include "client/json.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platformlib/allocator/roalloc.h"
#include "support/modulerun.h"

namespace {

using tavrix::test::capturedLine;

class jsonDocument : public tavrix::test::moduleTest {
protected:
    void SetUp() override { start({tavrix::test::ALLOCATOR}); }

    std::vector<std::string> errors() const { return logs.texts(tavrix::util::LOG_ERROR); }

    tavrix::test::captureLogger& logs = captured;
};

TEST_F(jsonDocument, parsedValuesLiveInTheDocument)
{
    const char text[] = "{\"name\": \"st\\u00f6ne\", \"list\": [1, 2, 3]} trailing";
    tavrix::json* doc = new tavrix::json;
    jsonValue root;
    ASSERT_TRUE(doc->parse(text, 0, &root, "blocks.json"));
    ASSERT_EQ(root.getTag(), JSON_TAG_OBJECT);
    jsonNode* name = root.toNode();
    EXPECT_STREQ(name->key, "name");
    EXPECT_STREQ(name->value.toString(), "st\xC3\xB6ne");
    EXPECT_NE(name->value.toString(), text + 10) << "the caller's text is not touched";
    EXPECT_STREQ(text + 10, "st\\u00f6ne\", \"list\": [1, 2, 3]} trailing");
    int count = 0;
    for (jsonNode* n : name->next->value)
        count += static_cast<int>(n->value.toNumber());
    EXPECT_EQ(count, 6);
    EXPECT_TRUE(errors().empty());
    delete doc;
}

TEST_F(jsonDocument, lengthLimitsTheCopy)
{
    jsonValue v;
    tavrix::json doc;
    ASSERT_TRUE(doc.parse("\"abcdef\"", 4, &v, nullptr));
    EXPECT_STREQ(v.toString(), "abc");
    tavrix::json array;
    ASSERT_TRUE(array.parse("[1]]]", 3, &v, nullptr));
    EXPECT_EQ(v.toNode()->value.toNumber(), 1.0);
}

TEST_F(jsonDocument, parsesOnce)
{
    tavrix::json empty;
    jsonValue v;
    EXPECT_FALSE(empty.parse("", 0, &v, "x"));
    EXPECT_EQ(errors(), std::vector<std::string>{"json::parse() -> got empty String\n"});
    EXPECT_TRUE(empty.parse("1", 0, &v, "x")) << "an empty text leaves the object unused";

    logs.clear();
    EXPECT_FALSE(empty.parse("2", 0, &v, "x"));
    EXPECT_EQ(v.toNumber(), 1.0);

    tavrix::json failed;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(failed.parse("[", 0, &v, "x"));
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(failed.parse("[]", 0, &v, "x"));

    const std::vector<capturedLine> lines = logs.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front().text, "json::parse() -> multiple cycles per instance are not supported.\n");
    EXPECT_EQ(lines.front().level, tavrix::util::LOG_ERROR);
    EXPECT_EQ(lines.front().function, "tavrix::json::parse");
    EXPECT_EQ(lines.front().file, "client/json.cpp");
    EXPECT_EQ(lines.back().text, "json::parse() -> multiple cycles per instance are not supported.\n");
}

struct reportCase {
    const char* what;
    std::string text;
    const char* name; // null: the document's default name
    std::vector<std::string> logged;
    std::string echoed; // bytes written to the standard error stream
};

TEST_F(jsonDocument, errorReports)
{
    const reportCase cases[] = {
        {"third line, fifth character", "{\n\"a\": 1,\n\"b\":x}\n{}", "doc.json",
         // The key's closing quote became the NUL that ends it, echoed as a quote.
         {"doc.json:3:5: error JSON_PARSE_UNEXPECTED_CHARACTER\n", "\"", "\n    ^\n"},
         "\"b:x}"},
        {"blank text", "   ", nullptr, {"<src>:1:4: error JSON_PARSE_BREAKING_BAD\n", "\n   ^\n"}, "   "},
        {"first character of a line", "[1,\n}", "m", {"m:2:1: error JSON_PARSE_MISMATCH_BRACKET\n", "\n^\n"}, "}"},
        {"text starting with line feeds", "\n\n  x", "m", {"m:3:3: error JSON_PARSE_UNEXPECTED_CHARACTER\n", "\n  ^\n"},
         "  x"},
        {"tab before the error", "[\t1x]", "t",
         {"t:1:4: error JSON_PARSE_BAD_NUMBER\n", "    ", "\n      ^\n"}, "[1x]"},
        {"tab after the error", "[1x\t]", "t", {"t:1:3: error JSON_PARSE_BAD_NUMBER\n", "    ", "\n  ^\n"}, "[1x]"},
        {"carriage return and form feed", "[\r\f1x]", "t",
         {"t:1:5: error JSON_PARSE_BAD_NUMBER\n", "\\r", "\\f", "\n      ^\n"}, "[1x]"},
        {"decoded backspace", "[\"\\b\",1x]", "t",
         {"t:1:8: error JSON_PARSE_BAD_NUMBER\n", "\\b", "\"", "\n        ^\n"}, "[\"\",1x]"},
        {"overflow", std::string(33, '['), "deep", {"deep:1:33: error JSON_PARSE_STACK_OVERFLOW\n",
         "\n" + std::string(32, ' ') + "^\n"}, std::string(33, '[')},
    };
    for (const reportCase& c : cases) {
        SCOPED_TRACE(c.what);
        logs.clear();
        tavrix::json doc;
        jsonValue v;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(doc.parse(c.text.c_str(), static_cast<uint32_t>(c.text.size()), &v, c.name));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.echoed);
        EXPECT_EQ(logs.texts(), c.logged);
        for (const capturedLine& line : logs.lines()) {
            EXPECT_EQ(line.level, tavrix::util::LOG_ERROR);
            EXPECT_EQ(line.function, "tavrix::printError");
        }
    }
}

TEST_F(jsonDocument, everyStatusHasItsName)
{
    const char* const names[] = {
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
    char src[] = "x";
    for (int status = JSON_PARSE_OK; status <= JSON_PARSE_BREAKING_BAD; ++status) {
        logs.clear();
        testing::internal::CaptureStderr();
        tavrix::printError("n", jsonParseStatus(status), src, src, 1);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "x");
        ASSERT_FALSE(logs.texts().empty());
        EXPECT_EQ(logs.texts().front(), std::string("n:1:1: error ") + names[status] + "\n");
    }
}

// A stand-in for the content store: files from the temporary directory, NUL-terminated, with the
// releases counted.
struct fileSource {
    static inline int released = 0;
    static void* read(const char* path, uint32_t* size)
    {
        FILE* f = std::fopen(path, "rb");
        if (!f)
            return nullptr;
        std::string bytes;
        char buffer[256];
        for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), f)) > 0;)
            bytes.append(buffer, n);
        std::fclose(f);
        char* data = static_cast<char*>(std::malloc(bytes.size() + 1));
        std::memcpy(data, bytes.c_str(), bytes.size() + 1);
        *size = static_cast<uint32_t>(bytes.size());
        return data;
    }
    static void release(void* data)
    {
        ++released;
        std::free(data);
    }
};

TEST_F(jsonDocument, parseFileReadsThroughTheFileSource)
{
    jsonValue v;
    {
        tavrix::json doc;
        EXPECT_FALSE(doc.parseFile("data/test/testBlockDef.json", &v)) << "no file source installed";
        EXPECT_EQ(errors(), std::vector<std::string>{"json::parseFile() -> File I/O Error\n"});
    }

    tavrix::json::setFileSource(fileSource::read, fileSource::release);
    dir.write("good.json", "{\"stone\": {\"id\": 1}}");
    dir.write("bad.json", "{\"stone\": {\"id\": 1}");
    {
        tavrix::json doc;
        ASSERT_TRUE(doc.parseFile("good.json", &v));
        EXPECT_STREQ(v.toNode()->key, "stone");
        EXPECT_EQ(fileSource::released, 1);
    }
    {
        logs.clear();
        tavrix::json doc;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(doc.parseFile("bad.json", &v));
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(fileSource::released, 2);
        ASSERT_FALSE(errors().empty());
        EXPECT_EQ(errors().front(), "bad.json:1:20: error JSON_PARSE_BREAKING_BAD\n");
    }
    {
        logs.clear();
        tavrix::json doc;
        EXPECT_FALSE(doc.parseFile("missing.json", &v));
        EXPECT_EQ(errors(), std::vector<std::string>{"json::parseFile() -> File I/O Error\n"});
        EXPECT_EQ(fileSource::released, 2);
    }
    tavrix::json::setFileSource(nullptr, nullptr);
}

TEST_F(jsonDocument, memoryComesFromTheTrackingAllocator)
{
    // Left undeleted on purpose: the leak report names who took the blocks.
    tavrix::json* doc = new tavrix::json;
    std::string big = "[";
    for (int i = 0; i < 1000; ++i)
        big += "1,";
    big += "2]";
    jsonValue v;
    ASSERT_TRUE(doc->parse(big.c_str(), 0, &v, nullptr));
    roalloc_final();
    const std::string leaks = dir.read("memleak.log");
    EXPECT_NE(leaks.find("Proc 'tavrix::jsonAlloc'"), std::string::npos) << leaks;
    EXPECT_NE(leaks.find("Proc 'tavrix::json::parse'"), std::string::npos) << leaks;
    std::remove("memleak.log");
    roalloc_init();
}

} // namespace
