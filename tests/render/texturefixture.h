#pragma once
// The texture manager against a real OpenGL context: the test thread owns the context and runs the main
// task queue, as the frame loop does; the content store, the file-system cache and the texture worker run
// as in the client. Completion callbacks are recorded in order.
#include <GL/glew.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/fscache.h"
#include "client/maintaskqueue.h"
#include "client/texturemgr.h"
#include "core/coremodules.h"
#include "render/glfixture.h"
#include "render/imagefiles.h"

namespace tavrix::test {

struct textureCall {
    textureMgr::texture* tex;
    void* user;
    void* arg;
};

// What the callbacks saw; callbacks run on the texture worker.
class callRecorder {
public:
    static void record(textureMgr::texture* tex, void* user, void* arg)
    {
        auto* self = static_cast<callRecorder*>(user);
        std::lock_guard<std::mutex> guard(self->lock);
        self->seen.push_back({tex, user, arg});
    }
    std::vector<textureCall> calls() const
    {
        std::lock_guard<std::mutex> guard(lock);
        return seen;
    }
    size_t count() const { return calls().size(); }

private:
    mutable std::mutex lock;
    std::vector<textureCall> seen;
};

inline const testModule FS_CACHE = {"file-system cache", fsCache::init, fsCache::final};
inline const testModule TEXTURES = {"texture manager", textureMgr::init, textureMgr::final};

class textureFixture : public glFixture {
protected:
    void SetUp() override
    {
        glFixture::SetUp();
        if (!ready)
            return;
        start({FS_CACHE, MAIN_TASK_QUEUE});
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
    }

    // After the test's settings.
    void startTextures() { start({TEXTURES}); }
    void stopTextures() { stop(TEXTURES.name); }

    // Runs the main task queue, as frames do, until the condition holds; false after the time-out.
    static bool drainUntil(const std::function<bool()>& done, int timeoutMs = 30000)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() > until)
                return false;
            mainTaskQueue::run();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        mainTaskQueue::run();
        return true;
    }

    // "default.png" (64 x 64) in the content store, requested as the start-up step does, and arrived.
    void loadDefault()
    {
        addFile("data/textures/default.png", pngImage(64, 64, false));
        textureMgr::loadTexture("default.png", textureMgr::cb_DefaultTextureLoaded, nullptr, nullptr);
        ASSERT_TRUE(drainUntil([this] { return captured.contains("textureMgr: Default Texture Loaded! (64x64)\n"); }));
        // The line comes just before the texture is stored: wait for that too.
        textureMgr::awaitDefaultTexture(10000);
    }

    // Requests the name and waits until the callbacks recorded so many calls.
    textureMgr::texture* load(const std::string& name, callRecorder& calls, void* arg = nullptr)
    {
        const size_t before = calls.count();
        textureMgr::loadTexture(name.c_str(), callRecorder::record, &calls, arg);
        EXPECT_TRUE(drainUntil([&] { return calls.count() > before; })) << name;
        return calls.count() > before ? calls.calls().back().tex : nullptr;
    }

    static GLint levelParameter(GLuint id, GLenum name)
    {
        GLint value = 0;
        glBindTexture(GL_TEXTURE_2D, id);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, name, &value);
        return value;
    }

    // The cache file of a texture path.
    std::string cacheFile(const std::string& path) const
    {
        char name[fsCache::PATH_BUFFER_SIZE];
        fsCache::makePath(path.c_str(), name);
        return name;
    }

    std::vector<std::string> errors() const { return captured.texts(util::LOG_ERROR); }
};

} // namespace tavrix::test
