#pragma once
// Runs a test inside a fresh temporary directory, removed afterwards.
#include <string>

namespace tavrix::test {

class tempDir {
public:
    tempDir();
    ~tempDir();
    const std::string& path() const { return dir; }
    // Whole contents of a file below the directory; empty when it does not exist.
    std::string read(const std::string& relative) const;
    void write(const std::string& relative, const std::string& bytes) const;
    bool exists(const std::string& relative) const;

private:
    std::string dir;
    std::string previous;
};

} // namespace tavrix::test
