#include "platformlib/posix/dynlib.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "platformlib/util/exception.h"
#include "support/capturelogger.h"

using tavrix::sys::dynLib;
using tavrix::test::captureLogger;
using testing::MatchesRegex;

TEST(dynLib, missingLibraryThrowsAnExceptionWithoutLocation)
{
    tavrix::util::Exception* caught = nullptr;
    try {
        dynLib lib("libtavrix-not-there.so");
    } catch (tavrix::util::Exception* e) {
        caught = e;
    }
    ASSERT_NE(caught, nullptr);
    EXPECT_THAT(caught->getMessage(),
                MatchesRegex("Loading of Shared Library 'libtavrix-not-there\\.so' failed \\(GetLastError: [0-9]+\\)"));
    EXPECT_STREQ(caught->getFile(), "");
    EXPECT_STREQ(caught->getFunction(), "");
    EXPECT_EQ(caught->getLine(), 0);
    delete caught;
}

TEST(dynLib, resolvesExportedSymbolsAndLogsMissingOnes)
{
    captureLogger log;
    log.clear();
    dynLib lib(TAVRIX_TEST_LIBRARY);
    auto answer = reinterpret_cast<int (*)()>(lib.getProcAddress("tavrixTestLibAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 4242);
    EXPECT_TRUE(log.texts().empty());

    EXPECT_EQ(lib.getProcAddress("tavrixNoSuchSymbol"), nullptr);
    const auto errors = log.texts(tavrix::util::LOG_ERROR);
    ASSERT_EQ(log.texts().size(), 1u);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_THAT(errors[0], MatchesRegex("\\[Platform\\] " TAVRIX_TEST_LIBRARY
                                        ": failed to resolve 'tavrixNoSuchSymbol' \\(GetLastError: [0-9]+\\)\n"));
}

TEST(dynLib, findsALibraryBesideTheProgramByItsBareName)
{
    // The test library is built into the tests' own folder; the program has no RUNPATH.
    const char* bare = std::strrchr(TAVRIX_TEST_LIBRARY, '/') + 1;
    dynLib lib(bare);
    auto answer = reinterpret_cast<int (*)()>(lib.getProcAddress("tavrixTestLibAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 4242);
}

TEST(dynLib, extensionIsTheSharedObjectSuffix) { EXPECT_STREQ(dynLib::extension(), "so"); }
