// The process entry's handlers, driven by a table of throws, its message box and the windowing
// library's error callback.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "platformlib/util/exception.h"
#include "support/capturelogger.h"

void glfw_error_callback(int error, const char* description);
namespace tavrix::main {
void showErrorBox(const char* format, ...);
void reportEscaped(const char* file, int32_t line, const char* function);
} // namespace tavrix::main

namespace {

const std::string fatalText = "An Fatal Error occured,\nif this Problem persists, please contact us\n\nDetail:\n"
                              "boom 7\n\n\nFile: client/somewhere.cpp:12\nFunction: tavrix::thrower\n";
const std::string plainText = "An unhandled Exception occured,\nif this Problem persists, please contact us\n\n"
                              "Detail:\nplain x\n\nFile: :0\nFunction: \n";
// A fatal exception thrown under its base type's static type meets the base type's handler.
const std::string fatalAsBaseText = "An unhandled Exception occured,\nif this Problem persists, please contact us\n\n"
                                    "Detail:\nboom 7\n\n\nFile: client/somewhere.cpp:12\nFunction: tavrix::thrower\n";
const std::string unknownText = "An unknown unhandled Exception occured,\nif this Problem persists, please contact us\n";

TEST(entryTest, eachEscapedThrowGivesOneReport)
{
    struct {
        const char* what;
        void (*raise)();
        const std::string& text;
    } const cases[] = {
        {"fatal", [] { throw new FatalErrorException("client/somewhere.cpp", 12, "tavrix::thrower", "boom %d\n", 7); }, fatalText},
        {"fatal as its base", [] { throw static_cast<tavrix::util::Exception*>(new FatalErrorException("client/somewhere.cpp", 12, "tavrix::thrower", "boom %d\n", 7)); }, fatalAsBaseText},
        {"plain", [] { throw new tavrix::util::Exception("plain %s", "x"); }, plainText},
        {"a standard exception", [] { throw std::runtime_error("no"); }, unknownText},
        {"an integer", [] { throw 5; }, unknownText},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        tavrix::test::captureLogger captured;
        testing::internal::CaptureStderr();
        try {
            c.raise();
        } catch (...) {
            tavrix::main::reportEscaped("client/main.cpp", 77, "WinMain");
        }
        const std::string shown = testing::internal::GetCapturedStderr();
        const auto lines = captured.lines();
        std::vector<tavrix::test::capturedLine> errors;
        for (const auto& l : lines)
            if (l.level == tavrix::util::LOG_ERROR)
                errors.push_back(l);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].text, c.text);
        EXPECT_EQ(errors[0].file, "client/main.cpp");
        EXPECT_EQ(errors[0].line, 77);
        EXPECT_EQ(errors[0].function, "WinMain");
        EXPECT_EQ(shown, "Error\n" + c.text + "\n");
    }
}

TEST(entryTest, errorBoxKeepsTheFirst8191Characters)
{
    const std::string longText(10000, 'a');
    testing::internal::CaptureStderr();
    tavrix::main::showErrorBox("%s", longText.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error\n" + longText.substr(0, 8191) + "\n");

    testing::internal::CaptureStderr();
    tavrix::main::showErrorBox("%s", longText.substr(0, 8191).c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error\n" + longText.substr(0, 8191) + "\n");
}

TEST(entryTest, windowingErrorsAreLogged)
{
    tavrix::test::captureLogger captured;
    glfw_error_callback(65544, "X11: The DISPLAY environment variable is missing");
    const auto lines = captured.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().level, tavrix::util::LOG_ERROR);
    EXPECT_EQ(lines.back().text, "{GLFW}: [65544]: X11: The DISPLAY environment variable is missing\n");
    EXPECT_EQ(lines.back().function, "glfw_error_callback");
}

} // namespace
