// The real program as a whole process, each run in a temporary directory of its own.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "clientenv.h"
#include "support/clientprocess.h"
#include "support/tempdir.h"
#include "support/udplistener.h"

extern char** environ;

namespace {

struct processResult {
    int status = -1; // the exit status; -1 when the process did not end normally in time
    std::string stderrText;
};

// Runs the program in the current directory; withDisplay false removes the display for the child only.
processResult runTavrix(bool withDisplay)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (!withDisplay && (entry.rfind("DISPLAY=", 0) == 0 || entry.rfind("WAYLAND_DISPLAY=", 0) == 0))
            continue;
        env.push_back(entry);
    }
    std::vector<char*> envp;
    for (auto& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    FILE* errors = std::tmpfile();
    processResult result;
    if (!errors)
        return result;
    const pid_t child = fork();
    if (child == 0) {
        dup2(fileno(errors), 2);
        char* argv[] = {const_cast<char*>(TAVRIX_BINARY), nullptr};
        execve(TAVRIX_BINARY, argv, envp.data());
        _exit(127);
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    pid_t ended = 0;
    while ((ended = waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (ended == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    } else if (WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    }
    std::rewind(errors);
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), errors)) > 0)
        result.stderrText.append(buffer, n);
    std::fclose(errors);
    return result;
}

std::vector<std::string> logLines(const std::string& log)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < log.size()) {
        const size_t end = log.find("\r\n", at);
        if (end == std::string::npos) {
            lines.push_back(log.substr(at));
            break;
        }
        lines.push_back(log.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

TEST(tavrixProcess, withoutDisplayReportsTheFatalError)
{
    tavrix::test::tempDir dir;
    const processResult run = runTavrix(false);
    EXPECT_EQ(run.status, 0);

    const std::string head = "Error\nAn Fatal Error occured,\nif this Problem persists, please contact us\n\nDetail:\n"
                             "failed to initialize OS Abstraction Layer\n\n\nFile: client/main.cpp:";
    EXPECT_EQ(run.stderrText.rfind(head, 0), 0u) << run.stderrText;
    EXPECT_TRUE(std::regex_match(run.stderrText, std::regex(R"(Error\n[^]*:[0-9]+\nFunction: WinMain\n\n)")))
        << run.stderrText;
    EXPECT_EQ(run.stderrText.find("Error\n", 1), std::string::npos) << "one report only";

    const std::string log = dir.read("client.log");
    EXPECT_NE(log.find("(ERROR)   {GLFW}: ["), std::string::npos) << log;
    EXPECT_NE(log.find("(ERROR)   An Fatal Error occured,\r\nif this Problem persists, please contact us\r\n\r\n"
                       "Detail:\r\nfailed to initialize OS Abstraction Layer\r\n"),
              std::string::npos)
        << log;
    // Nothing of the client ran: no start-up, no shutdown, no settings written, no leak report.
    EXPECT_EQ(log.find("Tavrix - Initialization"), std::string::npos);
    EXPECT_EQ(log.find("Finalization"), std::string::npos);
    EXPECT_FALSE(dir.exists("cvar.db"));
    EXPECT_FALSE(dir.exists("memleak.log"));
}

TEST(tavrixProcess, normalRun)
{
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "needs a display (the test suite runs under Xvfb)";
    tavrix::test::tempDir dir;
    dir.write("cvar.db", "20131017\n1:a:i:5\n1:s:s:1:x\n11:video.width:i:320\n12:video.height:i:240\n");
    tavrix::test::udpListener console(5555);
    ASSERT_TRUE(console.bound());
    tavrix::test::localAssetServer assets(TAVRIX_SOURCE_DIR);
    ASSERT_TRUE(assets.started());

    // The client runs until its window is asked to close.
    // (Under the sanitizers the OpenGL driver's own leaks and races are set aside.)
    tavrix::test::clientProcess client(TAVRIX_BINARY, true, tavrix::test::CLIENT_ENV);
    ASSERT_TRUE(client.waitForLog("Initialization successful\r\n", 60000)) << dir.read("client.log");
    // The whole start-up first: the world's pools take seconds under the race detector, and a step still
    // running at the close ends the process without its shutdown.
    ASSERT_TRUE(client.waitForLog("Ordered asynchronous Initializations Complete\r\n", 60000)) << dir.read("client.log");
    ASSERT_EQ(std::system(CLOSEWINDOW_BINARY), 0);
    EXPECT_EQ(client.wait(20000), 0);
    EXPECT_EQ(client.stderrText(), "");

    // Unregistered integers stay, unregistered strings go.
    const std::string saved = dir.read("cvar.db");
    EXPECT_EQ(saved.rfind("20131017\n", 0), 0u) << saved;
    EXPECT_NE(saved.find("\n1:a:i:5\n"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("\n1:s:"), std::string::npos) << saved;
    EXPECT_FALSE(dir.exists("memleak.log")) << dir.read("memleak.log");

    const auto datagrams = console.receiveUntil('S', 5000);
    ASSERT_GE(datagrams.size(), 2u);
    EXPECT_EQ(datagrams.front(), std::string("Hclient\0", 8));
    EXPECT_EQ(datagrams.back(), std::string("Sclient\0", 8));

    const std::string log = dir.read("client.log");
    EXPECT_NE(log.find("Initialization successful\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Finalization - Finished\r\n"), std::string::npos) << log;
    ASSERT_EQ(log.substr(log.size() - 2), "\r\n");
    // "[seconds] (LEVEL)" padded to nine, a space, the text; every line feed written as CR LF.
    // (A text may itself begin with spaces.)
    const std::regex line(R"(\[[0-9]+\.[0-9]{5}\] (\(INFO\)   |\(WARN\)   |\(ERROR\)  |\(MEMMGR\) |\(DEBUG\)  |\(UNKNOWN\)) [^\r\n]*)");
    for (const auto& l : logLines(log.substr(0, log.size() - 2))) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, line)) << l;
        EXPECT_EQ(m[1].length(), 9) << l;
    }
}

} // namespace
