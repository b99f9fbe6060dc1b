#pragma once
// The content store running for real in a temporary directory: allocator, settings, timers and the
// store's own workers, with every log line captured.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "client/cvar.h"
#include "client/timer.h"
#include "client/vfslocal.h"
#include "platformlib/allocator/roalloc.h"
#include "support/capturelogger.h"
#include "contentrecord.h"
#include "support/tempdir.h"

namespace tavrix::test {

class vfsFixture : public ::testing::Test {
protected:
    tempDir dir;
    captureLogger captured;
    bool running = false;

    void SetUp() override
    {
        roalloc_init();
        ASSERT_TRUE(cvar::init());
        timer_init();
    }
    void TearDown() override
    {
        stop();
        timer_final();
        cvar::final();
        roalloc_final();
        EXPECT_FALSE(dir.exists("memleak.log")) << dir.read("memleak.log");
    }

    void start()
    {
        vfs::init();
        running = true;
    }
    void stop()
    {
        if (running)
            vfs::final();
        running = false;
    }

    // A record for bytes written at the path, as a download or the meta database would make it.
    vfs::fileDataINFO* addFile(const std::string& path, const std::string& bytes)
    {
        return tavrix::test::addContentFile(dir, path, bytes);
    }

    vfs::fileDataINFO* record(const std::string& path) { return vfs::fileDB_fetch(path.data(), uint32_t(path.size())); }

    static std::string text(const void* data, uint32_t size) { return std::string(static_cast<const char*>(data), size); }
};

} // namespace tavrix::test
