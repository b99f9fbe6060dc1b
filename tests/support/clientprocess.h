#pragma once
// The real client program started in the current directory, as its user starts it, for whole-process tests.
#include <cstdint>
#include <string>
#include <vector>

namespace tavrix::test {

class clientProcess {
public:
    // Starts the binary with the test's environment; withDisplay false removes the display for the child,
    // and each "NAME=value" of extraEnv replaces that variable for it.
    explicit clientProcess(const std::string& binary, bool withDisplay = true,
                           const std::vector<std::string>& extraEnv = {});
    // A child still running is killed.
    ~clientProcess();
    clientProcess(const clientProcess&) = delete;
    clientProcess& operator=(const clientProcess&) = delete;

    bool started() const { return pid > 0; }
    // Polls client.log in the current directory until it holds `text`; false when the time is up or the
    // process ended first.
    bool waitForLog(const std::string& text, int timeoutMs);
    void signal(int number);
    // The exit status, or -1 when the process did not end normally within timeoutMs (it is then killed).
    int wait(int timeoutMs);
    // What the child wrote to stderr; complete once wait has returned.
    std::string stderrText() const;

private:
    bool reap(bool block);

    int pid = -1;
    int status = -1;
    bool ended = false;
    std::string errorsPath;
};

// The tree's content/ published into the folder `assets` as one version, as tools/publish.py publishes it.
bool publishContent(const std::string& sourceDir, const std::string& assets, uint32_t version);

// The local asset server as a real run has it: the tree's content/ published as one version and served by
// tools/assetserver.py on 127.0.0.1:8090, for as long as the object lives. Tests that start one hold the
// port's CTest resource lock.
class localAssetServer {
public:
    explicit localAssetServer(const std::string& sourceDir, uint32_t version = 1);
    ~localAssetServer();
    localAssetServer(const localAssetServer&) = delete;
    localAssetServer& operator=(const localAssetServer&) = delete;

    bool started() const { return running; }
    // The server's log so far: a line per request.
    std::string log() const;

private:
    std::string tools;
    std::string folder;
    bool running = false;
};

} // namespace tavrix::test
