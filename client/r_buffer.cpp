#include "client/r_buffer.h"

#include <cstdarg>
#include <cstring>

#include "client/clientlogger.h"
#include "platformlib/util/exception.h"

namespace tavrix::r {

Buffer::Buffer(rBufferFormat format_, const char* name_, uint32_t numCols_, uint32_t preallocRows, int32_t bufferType_)
    : name(rostrdup(name_)), format(format_), vbo(INVALID_ID), bufferType(bufferType_), colHead(nullptr),
      colTail(nullptr), freeRows(nullptr), colRowCount(nullptr), numCols(numCols_), colOffset(nullptr),
      preallocBegin(nullptr), preallocEnd(nullptr)
{
    try {
        reserve(preallocRows);
    } catch (...) {
        release();
        throw;
    }
}

void Buffer::reserve(uint32_t preallocRows)
{
    if (numCols != 0) {
        const uint32_t pointers = blockSize(numCols, sizeof(row*));
        const uint32_t counts = blockSize(numCols, sizeof(int32_t));
        colHead = static_cast<row**>(roalloc(pointers));
        colTail = static_cast<row**>(roalloc(pointers));
        colRowCount = static_cast<int32_t*>(roalloc(counts));
        colOffset = static_cast<int32_t*>(roalloc(counts));
        std::memset(colHead, 0, pointers);
        std::memset(colTail, 0, pointers);
        std::memset(colRowCount, 0, counts);
        std::memset(colOffset, 0, counts);
    }
    if (preallocRows != 0) {
        const uint32_t stride = rowRecordSize();
        const uint32_t bytes = blockSize(preallocRows, stride);
        preallocBegin = static_cast<uint8_t*>(roalloc(bytes));
        preallocEnd = preallocBegin + bytes;
        // Pushed in block order: the block's last row is handed out first.
        for (uint8_t* at = preallocBegin; at < preallocEnd; at += stride) {
            row* r = reinterpret_cast<row*>(at);
            r->flag = 1;
            r->next = freeRows;
            freeRows = r;
        }
    }
}

Buffer::~Buffer()
{
    release();
    if (vbo != INVALID_ID)
        glDeleteBuffers(1, &vbo);
}

void Buffer::release()
{
    if (colHead) {
        for (uint32_t col = 0; col < numCols; ++col) {
            for (row* r = colHead[col]; r;) {
                row* next = r->next;
                freeRow(r);
                r = next;
            }
        }
    }
    rofree(colOffset);
    rofree(colTail);
    rofree(colHead);
    rofree(colRowCount);
    rofree(preallocBegin);
    rofree(name);
}

uint32_t Buffer::blockSize(uint64_t count, uint32_t recordSize) const
{
    const uint64_t bytes = count * recordSize;
    if (bytes > UINT32_MAX)
        TAVRIX_FATAL("Buffer(%s) -> %u Records of %u Bytes do not fit in one allocation\n", name, uint32_t(count), recordSize);
    return uint32_t(bytes);
}

uint32_t Buffer::getNumValuesPerRow() const
{
    switch (format) {
    case 1:
        return 3;
    case 2:
        return 5;
    case 3:
    case 6:
    case 7:
        return 8;
    case 4:
        return 10;
    case 5:
        return 6;
    default:
        TAVRIX_FATAL("Buffer::getNumValuesPerRow(%s) -> unsupported Buffer Format: %d\n", name, format);
    }
}

Buffer::row* Buffer::getNewRow()
{
    if (row* r = freeRows) {
        freeRows = r->next;
        return r;
    }
    row* r = static_cast<row*>(roalloc(rowRecordSize()));
    r->flag = 0;
    return r;
}

void Buffer::freeRow(row* r)
{
    if (r->flag != 1)
        rofree(r);
}

void Buffer::addRow(uint32_t col, ...)
{
    // Rows after compile would have no list to join, and a column past the arrays would write beyond them.
    if (vbo != INVALID_ID)
        TAVRIX_FATAL("Buffer(%s)::addRow() -> Buffer has been already Compiled!\n", name);
    if (col >= numCols)
        TAVRIX_FATAL("Buffer(%s)::addRow(%u) -> this buffer has only %u Columns!\n", name, col, numCols);
    const uint32_t values = getNumValuesPerRow();
    row* r = getNewRow();
    va_list args;
    va_start(args, col);
    const uint32_t floats = isPureFormat() ? values : values - 1;
    for (uint32_t i = 0; i < floats; ++i)
        r->values[i] = float(va_arg(args, double));
    if (!isPureFormat()) {
        const uint32_t word = va_arg(args, uint32_t);
        std::memcpy(&r->values[floats], &word, sizeof(word));
    }
    va_end(args);
    r->next = nullptr;
    if (colTail[col])
        colTail[col]->next = r;
    else
        colHead[col] = r;
    colTail[col] = r;
    ++colRowCount[col];
}

GLenum Buffer::createObject()
{
    clearErrors();
    glGenBuffers(1, &vbo);
    if (GLenum error = glGetError())
        TAVRIX_FATAL("Buffer::compile(%s) -> cannot create Vertex Buffer @ GFX-Adapter (errno: %u / %s)\n", name, error, errorText(error));
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    if (GLenum error = glGetError())
        TAVRIX_FATAL("Buffer::compile(%s) -> cannot bind Vertex Buffer (errno: %u / %s)\n", name, error, errorText(error));
    switch (bufferType) {
    case BUFFER_STATIC:
        return GL_STATIC_DRAW;
    case BUFFER_STREAM:
        return GL_STREAM_DRAW;
    case BUFFER_DYNAMIC:
        return GL_DYNAMIC_DRAW;
    default:
        TAVRIX_FATAL("Buffer::compile(%s) -> Unsupported BufferrType\n", name);
    }
}

void Buffer::allocate()
{
    // A second object would replace the first without deleting it.
    if (vbo != INVALID_ID)
        TAVRIX_FATAL("Buffer(%s)::allocate() -> Buffer has been already Compiled!\n", name);
    createObject();
}

void Buffer::compile()
{
    if (vbo != INVALID_ID)
        TAVRIX_FATAL("Buffer(%s)::compile() -> Buffer has been already Compiled!\n", name);
    uint64_t total = 0;
    for (uint32_t col = 0; col < numCols; ++col) {
        colOffset[col] = int32_t(total);
        total += uint32_t(colRowCount[col]);
    }
    const uint32_t rowSize = getRowSize();
    const uint32_t bytes = blockSize(total, rowSize);
    // An empty store uploads nothing; the allocator refuses blocks of 0 bytes.
    uint8_t* block = bytes ? static_cast<uint8_t*>(roalloc(bytes)) : nullptr;
    uint8_t* at = block;
    for (uint32_t col = 0; col < numCols; ++col) {
        for (row* r = colHead[col]; r;) {
            row* next = r->next;
            std::memcpy(at, r->values, rowSize);
            at += rowSize;
            freeRow(r);
            r = next;
        }
    }
    rofree(colTail);
    rofree(colHead);
    colTail = nullptr;
    colHead = nullptr;
    rofree(preallocBegin);
    preallocBegin = nullptr;
    preallocEnd = nullptr;
    freeRows = nullptr;

    GLenum usage;
    try {
        usage = createObject();
    } catch (...) {
        rofree(block);
        throw;
    }
    glBufferData(GL_ARRAY_BUFFER, bytes, block, usage);
    rofree(block);
    if (GLenum error = glGetError())
        TAVRIX_FATAL("Buffer::compile(%s) -> dataTransfer (rawBuffer->VertexBuffer) failed (errno: %u / %s)\n", name, error, errorText(error));
}

bool Buffer::bindStreamed(const char* misuseFormat, const char* bindFormat)
{
    if (bufferType == BUFFER_STATIC) {
        CLIENT_LOG(util::LOG_ERROR, misuseFormat, name);
        return false;
    }
    clearErrors();
    // Binding a name that was never created would quietly make a new object in a compatibility context.
    if (vbo == INVALID_ID)
        TAVRIX_FATAL(bindFormat, name, uint32_t(GL_INVALID_OPERATION), errorText(GL_INVALID_OPERATION));
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    if (GLenum error = glGetError())
        TAVRIX_FATAL(bindFormat, name, error, errorText(error));
    return true;
}

void Buffer::rawSetBufferData(const void* data, uint32_t size)
{
    if (!bindStreamed("Buffer(%s)::rawSetBufferData() -> invalid call to this method! the specified buffer is'nt streamed.\n",
                      "Buffer::rawSetBufferData(%s) -> cannot bind Vertex Buffer (errno: %u / %s)\n"))
        return;
    glBufferData(GL_ARRAY_BUFFER, size, data, GL_STREAM_DRAW);
    if (GLenum error = glGetError())
        TAVRIX_FATAL("Buffer::rawSetBufferData(%s) -> dataTransfer (rawBuffer->VertexBuffer) failed (errno: %u / %s)\n", name, error, errorText(error));
}

void Buffer::rawSetBufferSubData(uint32_t offset, const void* data, uint32_t size)
{
    if (!bindStreamed("Buffer(%s)::rawSetBufferSubData() -> invalid call to this method! the specified buffer is'nt streamed.\n",
                      "Buffer::rawSetBufferSubData(%s) -> cannot bind Vertex Buffer (errno: %u / %s)\n"))
        return;
    glBufferSubData(GL_ARRAY_BUFFER, offset, size, data);
    if (GLenum error = glGetError())
        TAVRIX_FATAL("Buffer::rawSetBufferSubData(%s) -> dataTransfer (rawBuffer->VertexBuffer) failed (errno: %u / %s)\n", name, error, errorText(error));
}

void Buffer::checkColumn(uint32_t col, const char* format_) const
{
    if (col >= numCols)
        TAVRIX_FATAL(format_, name, col, numCols);
}

int32_t Buffer::getColOffset(uint32_t col) const
{
    checkColumn(col, "Buffer(%s)::getColOffset(%u) -> this buffer has only %u Columns!\n");
    return colOffset[col];
}

int32_t Buffer::getRowCount(uint32_t col) const
{
    checkColumn(col, "Buffer(%s)::getRowCount(%u) -> this buffer has only %u Columns!\n");
    return colRowCount[col];
}

} // namespace tavrix::r
