#pragma once
// A client's content store in a directory of its own, updated from real HTTP servers on 127.0.0.1, and
// the asset server's layout published into such a server.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "client/cvar.h"
#include "client/rendermode.h"
#include "client/timer.h"
#include "client/vfs.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/util/crc32.h"
#include "platformlib/util/exception.h"
#include "platformlib/util/hex.h"
#include "platformlib/util/sha256.h"
#include "support/capturelogger.h"
#include "support/httpfixture.h"
#include "support/tempdir.h"

namespace tavrix::test {

struct contentFile {
    std::string path;
    std::string bytes;
};

inline std::string sha256Of(const std::string& bytes)
{
    sha256Context context;
    sha256_starts(&context);
    sha256_update(&context, bytes.data(), uint32_t(bytes.size()));
    uint8_t digest[32];
    sha256_finish(&context, digest);
    return std::string(reinterpret_cast<const char*>(digest), 32);
}

inline std::string hexOf(const std::string& bytes)
{
    std::string hex(bytes.size() * 2, '\0');
    util::bytesToHex(reinterpret_cast<const uint8_t*>(bytes.data()), hex.data(), uint32_t(bytes.size()));
    return hex;
}

inline std::string fileListOf(const std::vector<contentFile>& files)
{
    std::string list = std::to_string(files.size()) + "\n";
    for (const auto& f : files)
        list += std::to_string(f.path.size()) + ":" + f.path + "," + std::to_string(f.bytes.size()) + "," + hexOf(sha256Of(f.bytes)) + "\n";
    return list;
}

// The request target of a content path: bytes outside A-Za-z0-9-._~/ percent-encoded.
inline std::string targetOf(uint32_t version, const std::string& path)
{
    std::string target = "/" + std::to_string(version) + "/";
    for (unsigned char c : path) {
        if (std::isalnum(c) || std::string("-._~/").find(char(c)) != std::string::npos) {
            target += char(c);
        } else {
            static const char HEX[] = "0123456789ABCDEF";
            target += '%';
            target += HEX[c >> 4];
            target += HEX[c & 15];
        }
    }
    return target;
}

// Version `version` as the asset server serves it: its number as the current one, its list and its files.
inline void publish(httpFixture& server, uint32_t version, const std::vector<contentFile>& files)
{
    server.put("/currentVersion.txt", std::to_string(version));
    server.put("/" + std::to_string(version) + "/fileDB.txt", fileListOf(files));
    for (const auto& f : files)
        server.put(targetOf(version, f.path), f.bytes);
}

inline std::vector<std::string> targetsOf(const httpFixture& server)
{
    std::vector<std::string> targets;
    for (const auto& request : server.requests())
        targets.push_back(request.target);
    return targets;
}

inline std::string baseOf(uint16_t port) { return "http://127.0.0.1:" + std::to_string(port) + "/"; }

// Everything below the content store that a start-up has running, the render modes included. A failed
// update asks for the close at once.
class storeRun {
public:
    tempDir dir;
    captureLogger captured;

    storeRun()
    {
        roalloc_init();
        EXPECT_TRUE(cvar::init());
        timer_init();
    }
    ~storeRun()
    {
        stop();
        timer_final();
        cvar::final();
        roalloc_final();
        EXPECT_FALSE(dir.exists("memleak.log")) << dir.read("memleak.log");
    }

    // A new start of the client: fresh screens, then the content store.
    void start(const std::string& localBase, const std::string& publicBase)
    {
        renderMode::init();
        vfs::setAssetServerBaseURLs(localBase.c_str(), publicBase.c_str());
        vfs::setCloseWaitMs(0);
        vfs::init();
        running = true;
    }
    void stop()
    {
        if (running) {
            vfs::final();
            renderMode::final();
        }
        running = false;
    }
    // The start-up step; the text of a fatal failure, empty when there is none.
    std::string update()
    {
        try {
            vfs::postInit();
        } catch (FatalErrorException* e) {
            const std::string message = e->getMessage();
            delete e;
            return message;
        }
        return "";
    }

    vfs::fileDataINFO* record(const std::string& path) { return vfs::fileDB_fetch(path.data(), uint32_t(path.size())); }

    // The file is on disk with these bytes and recorded with their size and checksums.
    void expectStored(const contentFile& f)
    {
        SCOPED_TRACE(f.path);
        EXPECT_TRUE(dir.exists(f.path));
        EXPECT_EQ(dir.read(f.path), f.bytes);
        const vfs::fileDataINFO* known = record(f.path);
        ASSERT_NE(known, nullptr);
        EXPECT_EQ(known->size, f.bytes.size());
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(known->sha256), 32), sha256Of(f.bytes));
        EXPECT_EQ(known->crc32, crc32_update(0, f.bytes.data(), uint32_t(f.bytes.size())));
    }

private:
    bool running = false;
};

} // namespace tavrix::test
