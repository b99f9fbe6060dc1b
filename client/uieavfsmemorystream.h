#pragma once
// A read-only engine stream over one whole content-store file, held for the stream's lifetime.
#include <cstdint>

#include "platformlib/allocator/roalloc.h"
#include "platformlib/util/exception.h"
#include "webengine/eawebkit.h"

namespace tavrix {

// The content store has no such file, or it cannot be read.
class VFSMemoryStreamException : public util::Exception {
public:
    VFSMemoryStreamException() = default;
};

class uiEAVFSMemoryStream : public uiEAStreamBase, public roAlloc {
public:
    // Reads the file whole; throws a VFSMemoryStreamException (by pointer) when there is none.
    explicit uiEAVFSMemoryStream(const char* path);
    ~uiEAVFSMemoryStream() override;
    uiEAVFSMemoryStream(const uiEAVFSMemoryStream&) = delete;
    uiEAVFSMemoryStream& operator=(const uiEAVFSMemoryStream&) = delete;

    int32_t AddRef() override;
    // The last reference destroys the stream.
    int32_t Release() override;
    uint32_t GetType() override;
    int32_t GetAccessFlags() override;
    int32_t GetState() override;
    bool Close() override;
    uint64_t GetSize() override;
    bool SetSize(uint64_t size) override;
    int64_t GetPosition(int32_t kind) override;
    bool SetPosition(int64_t offset, int32_t kind) override;
    uint64_t GetAvailable() override;
    uint64_t Read(void* buffer, uint64_t size) override;
    bool Flush() override;
    bool Write(const void* data, uint64_t size) override;

private:
    const char* data;
    int32_t refCount;
    uint32_t position;
    uint32_t size;
};

} // namespace tavrix
