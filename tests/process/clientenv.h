#pragma once
// What every whole-process test gives the client it starts, and what it expects of every run's log.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/clientprocess.h"
#include "support/tempdir.h"

namespace tavrix::test {

// Under the sanitizers, the OpenGL driver's process-long tables are not the client's leaks (the driver has
// no frame pointers: only the slow unwinder reaches the frames the suppression names), and its threads'
// own synchronisation is invisible to the race detector. The driver is Mesa's softpipe, which compiles no
// code: llvmpipe registers the unwind tables of the shaders it compiles, and the slow unwinder run by an
// allocation inside the unwinder's first look at them waits for the unwinder's own lock for good. Sound
// goes to OpenAL Soft's null device: a machine without a sound card otherwise fails to open its default
// device, with ALSA's messages on stderr.
inline const std::vector<std::string> CLIENT_ENV = {
    "LSAN_OPTIONS=fast_unwind_on_malloc=0:print_suppressions=0:suppressions=" MESA_LEAKS,
    "TSAN_OPTIONS=suppressions=" MESA_RACES, "GALLIUM_DRIVER=softpipe", "DRAW_USE_LLVM=0", "ALSOFT_DRIVERS=null"};

// The one error the bundled content shows on purpose: a surface whose tile lies outside its texture.
inline const std::string BUNDLED_FALLBACK_LINE =
    "blockTypeRegistry: Block(planks) surface[1] - Slot [1, 2] Invalid as it exceeds the Texture's Dimensions, using default texture";

// The client's own ERROR lines of a client.log, but for the bundled fallback (the platform library's lines
// are its own tests' business).
inline std::vector<std::string> clientErrors(const std::string& log)
{
    std::vector<std::string> errors;
    for (size_t at = log.find("(ERROR)"); at != std::string::npos; at = log.find("(ERROR)", at + 1)) {
        const std::string text = log.substr(at + 10, log.find("\r\n", at) - at - 10);
        if (text.rfind("[Platform] ", 0) != 0 && text != BUNDLED_FALLBACK_LINE)
            errors.push_back(text);
    }
    return errors;
}

// What every start logs: the user interface sets the engine up before the content store lists its files,
// so no font is found then (the UI Worker adds the faces once the store has them).
inline std::vector<std::string> fontErrorsAtSetUp()
{
    std::vector<std::string> errors;
    for (const char* family : {"LiberationMono", "LiberationSerif", "LiberationSans"})
        for (const char* style : {"Regular", "Italic", "Bold", "BoldItalic"})
            errors.push_back(std::string("Failed to load Font(") + family + "-" + style + ")");
    return errors;
}

// A run directory with a small window's settings, and the bundled content served as one version by the
// local asset server; the test holds the server port's lock.
struct bundledRun {
    explicit bundledRun(uint32_t version) : assets(TAVRIX_SOURCE_DIR, version)
    {
        dir.write("cvar.db", "20131017\n11:video.width:i:320\n12:video.height:i:240\n");
    }
    tempDir dir;
    localAssetServer assets;
};

// The log's time, in seconds, of the first line holding the text; -1 when there is none.
inline double secondsOf(const std::string& log, const std::string& text)
{
    const size_t found = log.find(text);
    if (found == std::string::npos)
        return -1;
    const size_t lineStart = log.rfind("\r\n", found);
    double seconds = -1;
    std::sscanf(log.c_str() + (lineStart == std::string::npos ? 0 : lineStart + 2), "[%lf]", &seconds);
    return seconds;
}

inline std::string readWhole(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The content paths of the bundled tree.
inline std::vector<std::string> bundledFiles()
{
    const std::filesystem::path root = std::filesystem::path(TAVRIX_SOURCE_DIR) / "content";
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            paths.push_back(std::filesystem::relative(entry.path(), root).string());
    return paths;
}

// One start of the client until the menu is shown and each of the lines is in its log, closed then as a
// user closes it; its client.log.
inline std::string runToTheMenu(const tempDir& dir, const std::vector<std::string>& alsoWaitFor = {})
{
    constexpr int START_MS = 60000;
    constexpr int CLOSE_MS = 20000;
    // Not the previous start's lines.
    std::filesystem::remove("client.log");
    clientProcess client(TAVRIX_BINARY, true, CLIENT_ENV);
    EXPECT_TRUE(client.waitForLog("renderMode::switchMode() Switching to: Menu\r\n", START_MS)) << dir.read("client.log");
    for (const std::string& line : alsoWaitFor)
        EXPECT_TRUE(client.waitForLog(line, START_MS)) << line << dir.read("client.log");
    EXPECT_EQ(std::system(CLOSEWINDOW_BINARY), 0);
    EXPECT_EQ(client.wait(CLOSE_MS), 0);
    EXPECT_EQ(client.stderrText(), "");
    return dir.read("client.log");
}

} // namespace tavrix::test
