#include "support/clientprocess.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace tavrix::test {

namespace {
std::string readWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
} // namespace

clientProcess::clientProcess(const std::string& binary, bool withDisplay, const std::vector<std::string>& extraEnv)
{
    auto replaced = [&](const std::string& entry) {
        for (const auto& extra : extraEnv)
            if (entry.compare(0, extra.find('=') + 1, extra, 0, extra.find('=') + 1) == 0)
                return true;
        return false;
    };
    std::vector<std::string> env = extraEnv;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (!withDisplay && (entry.rfind("DISPLAY=", 0) == 0 || entry.rfind("WAYLAND_DISPLAY=", 0) == 0))
            continue;
        if (!replaced(entry))
            env.push_back(entry);
    }
    std::vector<char*> envp;
    for (auto& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    char path[] = "/tmp/tavrix-stderr-XXXXXX";
    const int errors = mkstemp(path);
    if (errors < 0)
        return;
    errorsPath = path;
    pid = fork();
    if (pid == 0) {
        dup2(errors, 2);
        close(errors);
        char* argv[] = {const_cast<char*>(binary.c_str()), nullptr};
        execve(binary.c_str(), argv, envp.data());
        _exit(127);
    }
    close(errors);
}

clientProcess::~clientProcess()
{
    if (started() && !ended) {
        kill(pid, SIGKILL);
        reap(true);
    }
    if (!errorsPath.empty())
        std::remove(errorsPath.c_str());
}

bool clientProcess::reap(bool block)
{
    if (ended)
        return true;
    int raw = 0;
    if (waitpid(pid, &raw, block ? 0 : WNOHANG) != pid)
        return false;
    ended = true;
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return true;
}

bool clientProcess::waitForLog(const std::string& text, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (readWhole("client.log").find(text) != std::string::npos)
            return true;
        if (!started() || reap(false))
            return readWhole("client.log").find(text) != std::string::npos;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void clientProcess::signal(int number)
{
    if (started() && !ended)
        kill(pid, number);
}

int clientProcess::wait(int timeoutMs)
{
    if (!started())
        return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!reap(false) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!ended) {
        kill(pid, SIGKILL);
        reap(true);
        status = -1;
    }
    return status;
}

std::string clientProcess::stderrText() const { return errorsPath.empty() ? "" : readWhole(errorsPath); }

namespace {
constexpr int START_WAIT_SECONDS = 120;
std::string quoted(const std::string& text) { return "'" + text + "'"; }
} // namespace

bool publishContent(const std::string& sourceDir, const std::string& assets, uint32_t version)
{
    const std::string publish = "python3 " + quoted(sourceDir + "/tools/publish.py") + " " + quoted(sourceDir + "/content") +
                                " " + quoted(assets) + " " + std::to_string(version) + " >/dev/null";
    return std::system(publish.c_str()) == 0;
}

localAssetServer::localAssetServer(const std::string& sourceDir, uint32_t version) : tools(sourceDir + "/tools/")
{
    char pattern[] = "/tmp/tavrix-assets-XXXXXX";
    if (!mkdtemp(pattern))
        return;
    folder = pattern;
    const std::string start = "python3 " + quoted(tools + "assetserver.py") + " start " + quoted(folder + "/assets") +
                              " --pid-file " + quoted(folder + "/pid") + " --log " + quoted(folder + "/log") + " >/dev/null 2>&1";
    if (!publishContent(sourceDir, folder + "/assets", version))
        return;
    // The port is fixed: another test run on the machine may hold it for a while.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(START_WAIT_SECONDS);
    while (!(running = std::system(start.c_str()) == 0) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
}

localAssetServer::~localAssetServer()
{
    if (running) {
        const std::string stop = "python3 " + quoted(tools + "assetserver.py") + " stop --pid-file " + quoted(folder + "/pid") + " 2>/dev/null";
        [[maybe_unused]] const int stopped = std::system(stop.c_str());
    }
    if (!folder.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
}

std::string localAssetServer::log() const { return readWhole(folder + "/log"); }

} // namespace tavrix::test
