#pragma once
// The vertex store. Either rows of floats are collected per column in main memory and `compile` packs them,
// column after column, into one OpenGL array buffer; or `allocate` creates an empty buffer whose whole
// contents the raw setters replace whenever the vertices change. Construction and addRow touch no OpenGL;
// everything else runs on the thread that owns the context.
#include <cstdint>

#include "client/r_glwrapper.h"
#include "platformlib/allocator/roalloc.h"

namespace tavrix::r {

// Values per row: 1 -> 3, 2 -> 5 (u, v, x, y, z), 3 -> 8, 4 -> 10, 5 -> 6, 6 -> 8, 7 -> 7 floats and one
// raw 32-bit word. Every other value is invalid.
typedef int32_t rBufferFormat;

// Usage of the compiled store: 0 static, 1 stream, 2 dynamic.
enum rBufferType : int32_t {
    BUFFER_STATIC = 0,
    BUFFER_STREAM = 1,
    BUFFER_DYNAMIC = 2,
};

class Buffer : public roAlloc {
public:
    Buffer(rBufferFormat format, const char* name, uint32_t numCols, uint32_t preallocRows, int32_t bufferType);
    ~Buffer();
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    // The row's values as doubles (a float's promotion); for format 7 the eighth is a uint32_t stored as
    // it is. Only before compile or allocate, and only for a column below numCols.
    void addRow(uint32_t col, ...);
    // Creates and binds an empty array buffer for the raw setters.
    void allocate();
    // Uploads every row once and frees them; the counts and offsets stay.
    void compile();
    // The whole store, from size bytes at data. Only for streamed buffers (types 1 and 2).
    void rawSetBufferData(const void* data, uint32_t size);
    void rawSetBufferSubData(uint32_t offset, const void* data, uint32_t size);

    uint32_t getNumValuesPerRow() const;
    uint32_t getRowSize() const { return 4 * getNumValuesPerRow(); }
    bool isPureFormat() const { return format != 7; }
    // First row of the column in the compiled store.
    int32_t getColOffset(uint32_t col) const;
    int32_t getRowCount(uint32_t col) const;

    const char* getName() const { return name; }
    // INVALID_ID until compile or allocate.
    GLuint getVbo() const { return vbo; }

private:
    // A row with its link and where it came from. 64-bit layout: the header takes 16 bytes, and records
    // are rounded up to 8 so that rows packed in the preallocated block keep their links aligned.
    struct row {
        row* next;     // in its column, or on the free list
        uint32_t flag; // 1 inside the preallocated block
        uint32_t reserved;
        float values[];
    };

    // The column arrays and the preallocated rows.
    void reserve(uint32_t preallocRows);
    // Every byte of main memory the buffer holds.
    void release();
    row* getNewRow();
    void freeRow(row* r);
    uint32_t rowRecordSize() const { return (uint32_t(sizeof(row)) + getRowSize() + 7u) & ~7u; }
    // Bytes of count records of the given size; fatal when they do not fit one allocation.
    uint32_t blockSize(uint64_t count, uint32_t recordSize) const;
    void checkColumn(uint32_t col, const char* format) const;
    // The buffer object created and bound, with the usage its type asks for.
    GLenum createObject();
    // False (logged) for a static buffer; otherwise the object is bound.
    bool bindStreamed(const char* misuseFormat, const char* bindFormat);

    char* name;
    rBufferFormat format;
    GLuint vbo;
    int32_t bufferType;
    row** colHead;
    row** colTail;
    row* freeRows;
    int32_t* colRowCount;
    uint32_t numCols;
    int32_t* colOffset;
    uint8_t* preallocBegin;
    uint8_t* preallocEnd;
};

} // namespace tavrix::r
