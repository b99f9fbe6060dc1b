#include "support/privatedisplay.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

namespace tavrix::test {

// Xvfb picks a free display number and writes it to the pipe once it accepts clients.
privateDisplay::privateDisplay(const std::vector<std::string>& extraArguments)
{
    int numberPipe[2];
    if (pipe(numberPipe) != 0)
        return;
    const std::string fd = std::to_string(numberPipe[1]);
    std::vector<std::string> arguments = {"Xvfb", "-displayfd", fd, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    std::vector<char*> argv;
    for (std::string& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid = fork();
    if (pid == 0) {
        close(numberPipe[0]);
        execvp("Xvfb", argv.data());
        _exit(127);
    }
    close(numberPipe[1]);
    char text[16] = {};
    for (size_t got = 0; pid > 0 && got < sizeof(text) - 1;) {
        const ssize_t n = read(numberPipe[0], text + got, sizeof(text) - 1 - got);
        if (n <= 0)
            break;
        got += size_t(n);
        if (text[got - 1] == '\n')
            break;
    }
    close(numberPipe[0]);
    if (text[0] >= '0' && text[0] <= '9')
        name = ":" + std::string(text, std::strcspn(text, "\n"));
}

void privateDisplay::goAway()
{
    if (pid <= 0)
        return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

} // namespace tavrix::test
