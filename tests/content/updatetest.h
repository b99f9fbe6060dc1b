#pragma once
// A client's content store in a directory of its own, updated from real HTTP servers on 127.0.0.1, and
// the asset server's layout published into such a server.
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "contentmodules.h"
#include "platformlib/util/crc32.h"
#include "platformlib/util/exception.h"
#include "platformlib/util/hex.h"
#include "platformlib/util/sha256.h"
#include "support/httpfixture.h"

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

// What the update reports to its screens, kept as the screens keep it: each screen's last status text and
// page, which screen is shown (switches to the shown one are ignored, as the render modes ignore them) and
// how often each was switched to, and whether the close was asked for; and besides, every status text and
// progress value each screen was given, in order. Any thread.
class screenRecorder final : public vfs::updateSink {
public:
    // A fresh start: the loading screen shown, nothing set.
    void clear()
    {
        std::lock_guard<std::mutex> guard(lock);
        statuses = {};
        statusLog = {};
        progressLog = {};
        urls = {};
        current = LOADING_SCREEN;
        switches = {};
        closeRequested = false;
    }
    std::string statusText(screen on)
    {
        std::lock_guard<std::mutex> guard(lock);
        return statuses[on];
    }
    std::vector<std::string> statusTexts(screen on)
    {
        std::lock_guard<std::mutex> guard(lock);
        return statusLog[on];
    }
    // Each value as "done/total".
    std::vector<std::string> progress(screen on)
    {
        std::lock_guard<std::mutex> guard(lock);
        return progressLog[on];
    }
    std::string url(screen on)
    {
        std::lock_guard<std::mutex> guard(lock);
        return urls[on];
    }
    int32_t shown()
    {
        std::lock_guard<std::mutex> guard(lock);
        return current;
    }
    uint32_t switchesTo(screen to)
    {
        std::lock_guard<std::mutex> guard(lock);
        return switches[to];
    }
    // Whether the close was asked for since the last call.
    bool takeCloseRequest()
    {
        std::lock_guard<std::mutex> guard(lock);
        const bool requested = closeRequested;
        closeRequested = false;
        return requested;
    }

    void setStatusText(screen on, const char* text, uint32_t length) override
    {
        std::lock_guard<std::mutex> guard(lock);
        statuses[on].assign(text, length ? length : std::strlen(text));
        statusLog[on].push_back(statuses[on]);
    }
    void setProgress(screen on, int32_t done, int32_t total) override
    {
        std::lock_guard<std::mutex> guard(lock);
        progressLog[on].push_back(std::to_string(done) + "/" + std::to_string(total));
    }
    void setURL(screen on, const char* page) override
    {
        std::lock_guard<std::mutex> guard(lock);
        urls[on] = page;
    }
    int32_t showDownload() override
    {
        std::lock_guard<std::mutex> guard(lock);
        return switchTo(DOWNLOAD_SCREEN);
    }
    void leaveDownload(int32_t previous) override
    {
        std::lock_guard<std::mutex> guard(lock);
        if (current == DOWNLOAD_SCREEN)
            switchTo(previous);
    }
    void requestClose() override
    {
        std::lock_guard<std::mutex> guard(lock);
        closeRequested = true;
    }

private:
    int32_t switchTo(int32_t to)
    {
        const int32_t previous = current;
        if (to != current) {
            current = to;
            ++switches[size_t(to)];
        }
        return previous;
    }

    std::mutex lock;
    std::array<std::string, 3> statuses;
    std::array<std::vector<std::string>, 3> statusLog;
    std::array<std::vector<std::string>, 3> progressLog;
    std::array<std::string, 3> urls;
    int32_t current = LOADING_SCREEN;
    std::array<uint32_t, 3> switches = {};
    bool closeRequested = false;
};

// Everything below the content store that a start-up has running, and a recorder in place of the screens.
// A failed update asks for the close at once.
class storeRun : public moduleRun {
public:
    screenRecorder screens;

    storeRun() : moduleRun{ALLOCATOR, CVARS, TIMERS} { vfs::setUpdateSink(&screens); }
    ~storeRun()
    {
        stop();
        vfs::setUpdateSink(nullptr);
    }

    // A new start of the client: fresh screens, then the content store.
    void start(const std::string& localBase, const std::string& publicBase)
    {
        screens.clear();
        vfs::setAssetServerBaseURLs(localBase.c_str(), publicBase.c_str());
        vfs::setCloseWaitMs(0);
        moduleRun::start({CONTENT_STORE});
    }
    void stop() { moduleRun::stop(CONTENT_STORE.name); }
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
};

} // namespace tavrix::test
