#include "client/uieavfsmemorystream.h"

#include <cstring>

#include "client/clientlogger.h"
#include "client/vfs.h"

namespace tavrix {

uiEAVFSMemoryStream::uiEAVFSMemoryStream(const char* path) : data(nullptr), refCount(0), position(0), size(0)
{
    // A missing file is only the font loader's line, not the content store's as well.
    if (vfs::fileExists(path))
        data = static_cast<const char*>(vfs::readFile(path, &size));
    if (!data)
        throw new VFSMemoryStreamException;
}

uiEAVFSMemoryStream::~uiEAVFSMemoryStream()
{
    if (data)
        vfs::releaseFile(const_cast<char*>(data));
}

int32_t uiEAVFSMemoryStream::AddRef() { return ++refCount; }

int32_t uiEAVFSMemoryStream::Release()
{
    if (refCount < 2) {
        delete this;
        return 0;
    }
    return --refCount;
}

uint32_t uiEAVFSMemoryStream::GetType() { return 0; }

int32_t uiEAVFSMemoryStream::GetAccessFlags() { return eawebkit::kAccessRead; }

int32_t uiEAVFSMemoryStream::GetState() { return 0; }

bool uiEAVFSMemoryStream::Close() { return false; }

uint64_t uiEAVFSMemoryStream::GetSize() { return size; }

bool uiEAVFSMemoryStream::SetSize(uint64_t) { return false; }

int64_t uiEAVFSMemoryStream::GetPosition(int32_t kind)
{
    if (kind == eawebkit::kPositionBegin)
        return position;
    if (kind == eawebkit::kPositionEnd)
        return int64_t(position) - int64_t(size);
    return 0;
}

// In 64 bits, so that a target before the start is out of range rather than a large position; a sum past
// the 64 bits is out of range too.
bool uiEAVFSMemoryStream::SetPosition(int64_t offset, int32_t kind)
{
    int64_t target = offset;
    bool overflowed = false;
    if (kind == eawebkit::kPositionCurrent)
        overflowed = __builtin_add_overflow(int64_t(position), offset, &target);
    else if (kind == eawebkit::kPositionEnd)
        overflowed = __builtin_add_overflow(int64_t(size), offset, &target);
    if (!overflowed && target >= 0 && target <= int64_t(size)) {
        position = uint32_t(target);
        return true;
    }
    position = size == 0 ? 0 : size - 1;
    return false;
}

uint64_t uiEAVFSMemoryStream::GetAvailable() { return size - position; }

uint64_t uiEAVFSMemoryStream::Read(void* buffer, uint64_t wanted)
{
    if (wanted == 0 || position == size)
        return 0;
    const uint64_t available = size - position;
    const uint64_t count = wanted < available ? wanted : available;
    std::memcpy(buffer, data + position, count);
    position += uint32_t(count);
    return count;
}

bool uiEAVFSMemoryStream::Flush() { return true; }

bool uiEAVFSMemoryStream::Write(const void*, uint64_t)
{
    CLIENT_LOG(util::LOG_ERROR, "uiEAVFSMemoryStream::Write() -> not supported.\n");
    return false;
}

} // namespace tavrix
