#include "support/tempdir.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace tavrix::test {

tempDir::tempDir()
{
    previous = std::filesystem::current_path().string();
    std::string pattern = (std::filesystem::temp_directory_path() / "tavrix-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    dir = pattern;
    std::filesystem::current_path(dir);
}

tempDir::~tempDir()
{
    std::error_code ec;
    std::filesystem::current_path(previous, ec);
    std::filesystem::remove_all(dir, ec);
}

std::string tempDir::read(const std::string& relative) const
{
    std::ifstream in(dir + "/" + relative, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void tempDir::write(const std::string& relative, const std::string& bytes) const
{
    const std::filesystem::path p = std::filesystem::path(dir) / relative;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool tempDir::exists(const std::string& relative) const
{
    return std::filesystem::exists(std::filesystem::path(dir) / relative);
}

} // namespace tavrix::test
