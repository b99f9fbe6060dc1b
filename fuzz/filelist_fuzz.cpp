// Feeds arbitrary bytes to the reader of the asset server's file list. Every definition it hands out must
// lie within the input and name a file the update may write; the counts must agree with the visits.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "client/vfslocal.h"

namespace {

struct bounds {
    const char* begin;
    const char* end;
    uint32_t visits;
};

void check(const tavrix::vfs::fileListDefinition& d, void* user)
{
    auto* b = static_cast<bounds*>(user);
    ++b->visits;
    if (d.name < b->begin || d.nameLength > uint64_t(b->end - d.name))
        std::abort();
    if (!tavrix::vfs::isSafeContentPath(d.name, d.nameLength) || std::memcmp(d.name, "data/", 5) != 0 ||
        (d.nameLength >= 10 && std::memcmp(d.name, "data/meta/", 10) == 0))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > UINT32_MAX)
        return 0;
    const char* list = reinterpret_cast<const char*>(data);
    bounds b = {list, list + size, 0};
    const tavrix::vfs::fileListResult r = tavrix::vfs::parseFileList(list, uint32_t(size), check, &b);
    if (r.processed != b.visits || r.line < 1 || r.end > tavrix::vfs::FILELIST_BAD_NAME)
        std::abort();
    return 0;
}
