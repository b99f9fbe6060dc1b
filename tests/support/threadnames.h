#pragma once
// The threads of this process by the names the system lists them under (15 characters at most).
#include <dirent.h>

#include <fstream>
#include <string>

namespace tavrix::test {

inline int threadsNamed(const std::string& name)
{
    int found = 0;
    DIR* tasks = opendir("/proc/self/task");
    while (dirent* task = tasks ? readdir(tasks) : nullptr) {
        std::string comm;
        std::getline(std::ifstream("/proc/self/task/" + std::string(task->d_name) + "/comm"), comm);
        found += comm == name;
    }
    if (tasks)
        closedir(tasks);
    return found;
}

} // namespace tavrix::test
