// Vertex buffers: the row formats, both roads (rows compiled into one store, or an allocated store that the
// raw setters replace) checked against what OpenGL holds, and the misuses that must fail without damage.
#include <cstring>
#include <memory>

#include "client/r_buffer.h"
#include "glfixture.h"

namespace r = tavrix::r;
using tavrix::test::thrownMessage;

namespace {

class bufferRows : public tavrix::test::allocFixture {};
class bufferGL : public tavrix::test::glFixture {
protected:
    // The store of the buffer bound as GL_ARRAY_BUFFER.
    static std::vector<uint8_t> store()
    {
        GLint size = 0;
        glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &size);
        std::vector<uint8_t> bytes(static_cast<size_t>(size));
        if (size > 0)
            glGetBufferSubData(GL_ARRAY_BUFFER, 0, size, bytes.data());
        return bytes;
    }
    static std::vector<float> floats(const std::vector<uint8_t>& bytes)
    {
        std::vector<float> values(bytes.size() / 4);
        std::memcpy(values.data(), bytes.data(), values.size() * 4);
        return values;
    }
    static GLint bufferParameter(GLuint vbo, GLenum name)
    {
        glBindBuffer(GL_ARRAY_BUFFER, vbo);
        GLint value = 0;
        glGetBufferParameteriv(GL_ARRAY_BUFFER, name, &value);
        return value;
    }
};

TEST_F(bufferRows, FormatTable)
{
    const struct {
        r::rBufferFormat format;
        uint32_t values;
        bool pure;
    } cases[] = {{1, 3, true}, {2, 5, true}, {3, 8, true}, {4, 10, true}, {5, 6, true}, {6, 8, true}, {7, 8, false}};
    for (const auto& c : cases) {
        r::Buffer buffer(c.format, "table", 1, 2, r::BUFFER_STATIC);
        EXPECT_EQ(c.values, buffer.getNumValuesPerRow()) << c.format;
        EXPECT_EQ(4 * c.values, buffer.getRowSize()) << c.format;
        EXPECT_EQ(c.pure, buffer.isPureFormat()) << c.format;
    }
}

TEST_F(bufferRows, InvalidFormatFailsWhenTheRowSizeIsNeeded)
{
    for (r::rBufferFormat format : {0, 8, -1}) {
        r::Buffer lazy(format, "lazy", 1, 0, r::BUFFER_STATIC);
        EXPECT_EQ("Buffer::getNumValuesPerRow(lazy) -> unsupported Buffer Format: " + std::to_string(format) + "\n",
                  thrownMessage([&] { lazy.getRowSize(); }, true));
        // With preallocated rows the size is needed at once; what was allocated before is given back.
        EXPECT_EQ("Buffer::getNumValuesPerRow(eager) -> unsupported Buffer Format: " + std::to_string(format) + "\n",
                  thrownMessage([&] { r::Buffer eager(format, "eager", 2, 4, r::BUFFER_STATIC); }, true));
    }
}

// Preallocated and allocated rows mixed, released by the destructor without a compile (the leak check of
// the fixture sees any row lost or freed one by one from the block).
TEST_F(bufferRows, RowsWithoutCompileAreReleased)
{
    for (uint32_t prealloc : {0u, 1u, 3u, 8u}) {
        auto* buffer = new r::Buffer(1, "uncompiled", 2, prealloc, r::BUFFER_STATIC);
        for (int i = 0; i < 5; ++i)
            buffer->addRow(uint32_t(i % 2), 1.0, 2.0, 3.0);
        EXPECT_EQ(3, buffer->getRowCount(0));
        EXPECT_EQ(2, buffer->getRowCount(1));
        delete buffer;
    }
}

TEST_F(bufferRows, ColumnIndexIsChecked)
{
    r::Buffer buffer(1, "cols", 2, 0, r::BUFFER_STATIC);
    EXPECT_EQ("Buffer(cols)::getColOffset(2) -> this buffer has only 2 Columns!\n", thrownMessage([&] { buffer.getColOffset(2); }, true));
    EXPECT_EQ("Buffer(cols)::getRowCount(7) -> this buffer has only 2 Columns!\n", thrownMessage([&] { buffer.getRowCount(7); }, true));
    // A row for a column past the arrays would be written outside them.
    EXPECT_EQ("Buffer(cols)::addRow(2) -> this buffer has only 2 Columns!\n", thrownMessage([&] { buffer.addRow(2, 1.0, 2.0, 3.0); }, true));
    r::Buffer none(2, "none", 0, 0, r::BUFFER_STREAM);
    EXPECT_EQ("Buffer(none)::addRow(0) -> this buffer has only 0 Columns!\n", thrownMessage([&] { none.addRow(0, 1.0, 2.0, 3.0, 4.0, 5.0); }, true));
    EXPECT_EQ(0, buffer.getRowCount(1));
}

// Columns are packed one after the other, each in insertion order, whatever mix of preallocated and
// allocated rows holds them; the usage follows the buffer type.
TEST_F(bufferGL, CompilePacksColumnsInOrder)
{
    const struct {
        int32_t type;
        GLenum usage;
        uint32_t prealloc;
    } cases[] = {{r::BUFFER_STATIC, GL_STATIC_DRAW, 0}, {r::BUFFER_STREAM, GL_STREAM_DRAW, 2}, {r::BUFFER_DYNAMIC, GL_DYNAMIC_DRAW, 5}};
    for (const auto& c : cases) {
        auto buffer = std::make_unique<r::Buffer>(1, "columns", 2, c.prealloc, c.type);
        buffer->addRow(1, 10.0, 11.0, 12.0);
        buffer->addRow(0, 0.0, 1.0, 2.0);
        buffer->addRow(0, 3.0, 4.0, 5.0);
        buffer->addRow(1, 13.0, 14.0, 15.0);
        buffer->addRow(0, 6.0, 7.0, 8.5);
        EXPECT_EQ(r::INVALID_ID, buffer->getVbo());
        buffer->compile();
        ASSERT_NE(r::INVALID_ID, buffer->getVbo());
        EXPECT_EQ(0, buffer->getColOffset(0));
        EXPECT_EQ(3, buffer->getRowCount(0));
        EXPECT_EQ(3, buffer->getColOffset(1));
        EXPECT_EQ(2, buffer->getRowCount(1));
        EXPECT_EQ(GLint(c.usage), bufferParameter(buffer->getVbo(), GL_BUFFER_USAGE));
        const std::vector<float> expected = {0, 1, 2, 3, 4, 5, 6, 7, 8.5, 10, 11, 12, 13, 14, 15};
        EXPECT_EQ(expected, floats(store()));
    }
}

TEST_F(bufferGL, NonPureFormatKeepsTheLastWordsBits)
{
    r::Buffer buffer(7, "packed", 1, 1, r::BUFFER_STATIC);
    // A signalling NaN pattern would not survive a trip through a float.
    const uint32_t word = 0x7F800001u;
    buffer.addRow(0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.25, word);
    buffer.addRow(0, -1.0, -2.0, -3.0, -4.0, -5.0, -6.0, -7.0, 0xFF00FF00u);
    buffer.compile();
    const std::vector<uint8_t> bytes = store();
    ASSERT_EQ(64u, bytes.size());
    const std::vector<float> values = floats(bytes);
    EXPECT_EQ(std::vector<float>({1, 2, 3, 4, 5, 6, 7.25}), std::vector<float>(values.begin(), values.begin() + 7));
    uint32_t stored[2];
    std::memcpy(&stored[0], bytes.data() + 28, 4);
    std::memcpy(&stored[1], bytes.data() + 60, 4);
    EXPECT_EQ(word, stored[0]);
    EXPECT_EQ(0xFF00FF00u, stored[1]);
    EXPECT_EQ(-7.0f, values[14]);
}

TEST_F(bufferGL, EmptyBufferCompiles)
{
    r::Buffer buffer(2, "empty", 1, 0, r::BUFFER_STATIC);
    buffer.compile();
    ASSERT_NE(r::INVALID_ID, buffer.getVbo());
    EXPECT_EQ(0, bufferParameter(buffer.getVbo(), GL_BUFFER_SIZE));
    EXPECT_EQ(0, buffer.getRowCount(0));
}

// The user interface's road: an allocated stream buffer whose four rows are replaced as a whole or in part.
TEST_F(bufferGL, AllocatedStoreTakesRawData)
{
    r::Buffer buffer(2, "window", 1, 0, r::BUFFER_STREAM);
    buffer.allocate();
    ASSERT_NE(r::INVALID_ID, buffer.getVbo());
    GLint bound = 0;
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &bound);
    EXPECT_EQ(GLint(buffer.getVbo()), bound);
    EXPECT_EQ(0, bufferParameter(buffer.getVbo(), GL_BUFFER_SIZE));

    float quad[20];
    for (int i = 0; i < 20; ++i)
        quad[i] = float(i);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    buffer.rawSetBufferData(quad, sizeof(quad));
    EXPECT_EQ(80, bufferParameter(buffer.getVbo(), GL_BUFFER_SIZE));
    EXPECT_EQ(80u / buffer.getRowSize(), 4u);

    const float row[5] = {-1, -2, -3, -4, -5};
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    buffer.rawSetBufferSubData(20, row, sizeof(row));
    glBindBuffer(GL_ARRAY_BUFFER, buffer.getVbo());
    std::vector<float> expected(quad, quad + 20);
    std::copy(row, row + 5, expected.begin() + 5);
    EXPECT_EQ(expected, floats(store()));
}

TEST_F(bufferGL, SecondCompileOrAllocateFails)
{
    r::Buffer compiled(1, "twice", 1, 0, r::BUFFER_STATIC);
    compiled.addRow(0, 1.0, 2.0, 3.0);
    compiled.compile();
    const GLuint vbo = compiled.getVbo();
    EXPECT_EQ("Buffer(twice)::compile() -> Buffer has been already Compiled!\n", thrownMessage([&] { compiled.compile(); }, true));
    EXPECT_EQ("Buffer(twice)::addRow() -> Buffer has been already Compiled!\n", thrownMessage([&] { compiled.addRow(0, 4.0, 5.0, 6.0); }, true));
    EXPECT_EQ("Buffer(twice)::allocate() -> Buffer has been already Compiled!\n", thrownMessage([&] { compiled.allocate(); }, true));
    EXPECT_EQ(vbo, compiled.getVbo());
    EXPECT_EQ(12, bufferParameter(vbo, GL_BUFFER_SIZE));

    r::Buffer allocated(1, "allocated", 1, 0, r::BUFFER_DYNAMIC);
    allocated.addRow(0, 1.0, 2.0, 3.0);
    allocated.allocate();
    EXPECT_EQ("Buffer(allocated)::compile() -> Buffer has been already Compiled!\n", thrownMessage([&] { allocated.compile(); }, true));
    EXPECT_EQ(0, bufferParameter(allocated.getVbo(), GL_BUFFER_SIZE));
}

TEST_F(bufferGL, UnsupportedBufferType)
{
    r::Buffer compiled(1, "odd", 1, 2, 3);
    compiled.addRow(0, 1.0, 2.0, 3.0);
    // The packed block is given back too (the fixture's leak check).
    EXPECT_EQ("Buffer::compile(odd) -> Unsupported BufferrType\n", thrownMessage([&] { compiled.compile(); }, true));
    r::Buffer allocated(2, "odd2", 1, 0, -1);
    EXPECT_EQ("Buffer::compile(odd2) -> Unsupported BufferrType\n", thrownMessage([&] { allocated.allocate(); }, true));
}

// On a static buffer the raw setters only log: no binding changes, no data moves.
TEST_F(bufferGL, RawSettersRefuseStaticBuffers)
{
    r::Buffer buffer(1, "static", 1, 0, r::BUFFER_STATIC);
    buffer.addRow(0, 1.0, 2.0, 3.0);
    buffer.compile();
    GLuint other = 0;
    glGenBuffers(1, &other);
    glBindBuffer(GL_ARRAY_BUFFER, other);
    const float data[6] = {9, 9, 9, 9, 9, 9};
    buffer.rawSetBufferData(data, sizeof(data));
    buffer.rawSetBufferSubData(0, data, 12);
    EXPECT_TRUE(logged(tavrix::util::LOG_ERROR, "Buffer(static)::rawSetBufferData() -> invalid call to this method! the specified buffer is'nt streamed.\n"));
    EXPECT_TRUE(logged(tavrix::util::LOG_ERROR, "Buffer(static)::rawSetBufferSubData() -> invalid call to this method! the specified buffer is'nt streamed.\n"));
    GLint bound = 0;
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &bound);
    EXPECT_EQ(GLint(other), bound);
    glBindBuffer(GL_ARRAY_BUFFER, buffer.getVbo());
    EXPECT_EQ(std::vector<float>({1, 2, 3}), floats(store()));
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glDeleteBuffers(1, &other);
}

// A streamed buffer that was never allocated has no object: binding its placeholder id would quietly make
// one in a compatibility context, so the setters report the bind as failed.
TEST_F(bufferGL, RawSettersNeedAnObject)
{
    r::Buffer buffer(2, "unallocated", 1, 0, r::BUFFER_STREAM);
    const float data[5] = {};
    EXPECT_EQ("Buffer::rawSetBufferData(unallocated) -> cannot bind Vertex Buffer (errno: 1282 / Unknown error)\n",
              thrownMessage([&] { buffer.rawSetBufferData(data, sizeof(data)); }, true));
    EXPECT_EQ("Buffer::rawSetBufferSubData(unallocated) -> cannot bind Vertex Buffer (errno: 1282 / Unknown error)\n",
              thrownMessage([&] { buffer.rawSetBufferSubData(0, data, sizeof(data)); }, true));
    EXPECT_FALSE(glIsBuffer(r::INVALID_ID));
}

TEST_F(bufferGL, DataFailureIsReported)
{
    r::Buffer buffer(2, "short", 1, 0, r::BUFFER_STREAM);
    buffer.allocate();
    const float data[5] = {};
    buffer.rawSetBufferData(data, sizeof(data));
    // Past the end of the 20-byte store.
    EXPECT_EQ("Buffer::rawSetBufferSubData(short) -> dataTransfer (rawBuffer->VertexBuffer) failed (errno: 1281 / Unknown error)\n",
              thrownMessage([&] { buffer.rawSetBufferSubData(12, data, sizeof(data)); }, true));
}

TEST_F(bufferGL, DestructionDeletesTheObject)
{
    auto* buffer = new r::Buffer(1, "gone", 1, 0, r::BUFFER_STATIC);
    buffer->addRow(0, 1.0, 2.0, 3.0);
    buffer->compile();
    const GLuint vbo = buffer->getVbo();
    EXPECT_TRUE(glIsBuffer(vbo));
    delete buffer;
    EXPECT_FALSE(glIsBuffer(vbo));
}

} // namespace
