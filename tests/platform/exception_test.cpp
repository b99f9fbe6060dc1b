#include <gtest/gtest.h>

#include <cstdarg>
#include <memory>
#include <string>
#include <type_traits>

#include "platformlib/util/exception.h"

namespace {

using tavrix::util::Exception;

// Handlers delete what they catch through a base pointer.
static_assert(std::has_virtual_destructor_v<Exception>);

TEST(Exception, MessageIsBoundedTo16383Characters)
{
    struct {
        size_t length;
        size_t kept;
    } cases[] = {{0, 0}, {16382, 16382}, {16383, 16383}, {16384, 16383}, {40000, 16383}};
    for (const auto& c : cases) {
        std::string text;
        for (size_t i = 0; i < c.length; ++i)
            text += char('a' + i % 26);
        std::unique_ptr<Exception> e(new Exception("%s", text.c_str()));
        EXPECT_EQ(std::string(e->getMessage()), text.substr(0, c.kept)) << c.length;
    }
}

TEST(Exception, FormatOnlyConstructorHasNoLocation)
{
    std::unique_ptr<Exception> e(new Exception("Loading of Shared Library '%s' failed (GetLastError: %u)", "x.so", 126u));
    EXPECT_STREQ(e->getMessage(), "Loading of Shared Library 'x.so' failed (GetLastError: 126)");
    EXPECT_STREQ(e->getFile(), "");
    EXPECT_STREQ(e->getFunction(), "");
    EXPECT_EQ(e->getLine(), 0);

    std::unique_ptr<Exception> empty(new Exception());
    EXPECT_STREQ(empty->getMessage(), "");
    EXPECT_STREQ(empty->getFile(), "");
    EXPECT_EQ(empty->getLine(), 0);
}

TEST(Exception, LongFileAndFunctionNamesKeepTheirFirst127Characters)
{
    const std::string longFile = "src/" + std::string(196, 'f');
    const std::string longFunction = std::string(150, 'g');
    struct {
        std::string file, function;
    } cases[] = {
        {longFile, longFunction},
        {std::string(127, 'h'), std::string(127, 'i')},
        {"client/main.cpp", "WinMain"},
    };
    for (const auto& c : cases) {
        std::unique_ptr<FatalErrorException> e(
            new FatalErrorException(c.file.c_str(), 42, c.function.c_str(), "boom %d", 7));
        EXPECT_EQ(std::string(e->getFile()), c.file.substr(0, 127));
        EXPECT_EQ(std::string(e->getFunction()), c.function.substr(0, 127));
        EXPECT_EQ(e->getLine(), 42);
        EXPECT_STREQ(e->getMessage(), "boom 7");
    }
}

// A derived type that formats its own message after a location was set.
class reformatted : public Exception {
public:
    void reformat(const char* format, ...) __attribute__((format(printf, 2, 3)))
    {
        va_list args;
        va_start(args, format);
        setMessageV(format, args);
        va_end(args);
    }
};

TEST(Exception, SettingTheMessageEmptiesFileAndFunction)
{
    reformatted e;
    e.setLocation("a.cpp", 5, "f");
    e.reformat("%s", "again");
    EXPECT_STREQ(e.getMessage(), "again");
    EXPECT_STREQ(e.getFile(), "");
    EXPECT_STREQ(e.getFunction(), "");
}

} // namespace

namespace exceptionTest {
int throwLine;
void throwFatal(int value)
{
    throwLine = __LINE__ + 1;
    TAVRIX_FATAL("value %d out of range\n", value);
}
} // namespace exceptionTest

namespace {
using exceptionTest::throwFatal;
using exceptionTest::throwLine;

TEST(Exception, FatalCaughtAsBaseYieldsTheSameFieldsAndIsDeletedThroughIt)
{
    bool caught = false;
    try {
        throwFatal(9);
    } catch (Exception* e) {
        caught = true;
        EXPECT_NE(dynamic_cast<FatalErrorException*>(e), nullptr);
        EXPECT_STREQ(e->getMessage(), "value 9 out of range\n");
        EXPECT_STREQ(e->getFile(), "tests/platform/exception_test.cpp");
        EXPECT_STREQ(e->getFunction(), "exceptionTest::throwFatal");
        EXPECT_EQ(e->getLine(), throwLine);
        delete e;
    }
    EXPECT_TRUE(caught);
}

} // namespace
