#pragma once
// The content store running for real in a temporary directory: allocator, settings, timers and the
// store's own workers, with every log line captured.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "contentmodules.h"
#include "contentrecord.h"

namespace tavrix::test {

class vfsFixture : public moduleTest {
protected:
    void SetUp() override { moduleRun::start({ALLOCATOR, CVARS, TIMERS}); }

    void start() { moduleRun::start({CONTENT_STORE}); }
    void stop() { moduleRun::stop(CONTENT_STORE.name); }

    // A record for bytes written at the path, as a download or the meta database would make it.
    vfs::fileDataINFO* addFile(const std::string& path, const std::string& bytes)
    {
        return tavrix::test::addContentFile(dir, path, bytes);
    }

    vfs::fileDataINFO* record(const std::string& path) { return vfs::fileDB_fetch(path.data(), uint32_t(path.size())); }

    static std::string text(const void* data, uint32_t size) { return std::string(static_cast<const char*>(data), size); }
};

} // namespace tavrix::test
