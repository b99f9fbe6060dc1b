#pragma once
// An X server of the test's own (Xvfb), which the test can take away, or start without an extension the
// client needs.
#include <string>
#include <vector>

#include <sys/types.h>

namespace tavrix::test {

class privateDisplay {
public:
    // extraArguments go to Xvfb after its own, e.g. {"-extension", "GLX"} for a server without OpenGL.
    explicit privateDisplay(const std::vector<std::string>& extraArguments = {});
    ~privateDisplay() { goAway(); }
    privateDisplay(const privateDisplay&) = delete;
    privateDisplay& operator=(const privateDisplay&) = delete;

    // Empty when the server did not start.
    const std::string& displayName() const { return name; }
    void goAway();

private:
    pid_t pid = -1;
    std::string name;
};

} // namespace tavrix::test
