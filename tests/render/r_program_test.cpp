// Shader programs, their attributes and uniforms, built by the real driver: a textured quad drawn through
// both buffer roads and read back, the failure reports of every kind of broken shader, shaders from the
// content store, and the checks that skip attributes and silence uniforms.
#include <glm/gtc/matrix_transform.hpp>
#include <glm/gtc/type_ptr.hpp>

#include <memory>
#include <regex>

#include "client/r_buffer.h"
#include "client/r_program.h"
#include "client/r_programattribs.h"
#include "client/r_programvar.h"
#include "glfixture.h"

namespace r = tavrix::r;
namespace vfs = tavrix::vfs;
using tavrix::test::thrownMessage;
using tavrix::util::LOG_ERROR;

namespace {

const char* const UI_VERTEX = R"(#version 120
attribute vec2 texPos;
attribute vec3 vtxPos;
uniform mat4 MVP;
uniform vec3 WindowPos;
varying vec2 uv;
void main()
{
    uv = texPos;
    gl_Position = MVP * vec4(vtxPos + WindowPos, 1.0);
}
)";

const char* const UI_FRAGMENT = R"(#version 120
uniform sampler2D tex0;
varying vec2 uv;
void main()
{
    gl_FragColor = texture2D(tex0, uv);
}
)";

// A matrix attribute and a uniform array declared first: the driver's locations no longer equal the active
// indices of the attributes and uniforms behind them. "unused" is removed by the linker.
const char* const MIXED_VERTEX = R"(#version 120
attribute vec2 texPos;
attribute mat4 model;
attribute vec3 vtxPos;
attribute vec2 unused;
uniform vec4 pad[4];
uniform vec3 WindowPos;
uniform vec4 color;
uniform mat3 rot;
uniform mat4 MVP;
uniform int count;
uniform float scale;
varying vec4 tint;
void main()
{
    tint = color + pad[3] * float(count) + vec4(rot[0], scale);
    gl_Position = MVP * model * vec4(vtxPos + WindowPos, 1.0) + vec4(texPos, 0.0, 0.0);
}
)";

const char* const MIXED_FRAGMENT = R"(#version 120
uniform sampler2D tex0;
varying vec4 tint;
void main()
{
    gl_FragColor = tint * texture2D(tex0, vec2(0.5));
}
)";

class programTest : public tavrix::test::glFixture {
protected:
    static GLint attribParameter(GLint location, GLenum name)
    {
        GLint value = 0;
        glGetVertexAttribiv(GLuint(location), name, &value);
        return value;
    }
    static uintptr_t attribOffset(GLint location)
    {
        void* pointer = nullptr;
        glGetVertexAttribPointerv(GLuint(location), GL_VERTEX_ATTRIB_ARRAY_POINTER, &pointer);
        return reinterpret_cast<uintptr_t>(pointer);
    }
    std::vector<std::string> errors() const { return captured.texts(LOG_ERROR); }
    // On black, four rows as a triangle strip with the program in use, which is then left.
    static void drawStrip(r::ProgramAttribs& attribs)
    {
        glViewport(0, 0, WIDTH, HEIGHT);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        attribs.bind();
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        glBindVertexArray(0);
        glUseProgram(0);
        glFinish();
    }
};

// The quad's four rows (u, v, x, y, z), 32 pixels wide, as a triangle strip.
const float QUAD[20] = {0, 0, 0, 0, 0, 1, 0, 32, 0, 0, 0, 1, 0, 32, 0, 1, 1, 32, 32, 0};

// The user interface's program draws a 2x2 texture through a format-2 buffer filled either way; the texture
// sits on unit 1, so only a working sampler uniform finds it.
TEST_F(programTest, DrawsTexturedQuad)
{
    r::Program program("ui", UI_VERTEX, UI_FRAGMENT);
    const std::regex loaded("new Program: loaded Shader 'ui' in [0-9]+\\.[0-9]{5} Seconds\n");
    bool reported = false;
    for (const std::string& line : captured.texts(tavrix::util::LOG_INFO))
        reported |= std::regex_match(line, loaded);
    EXPECT_TRUE(reported);

    const uint8_t texels[16] = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255};
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 2, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels);
    glActiveTexture(GL_TEXTURE0);

    for (bool streamed : {true, false}) {
        SCOPED_TRACE(streamed ? "allocated stream buffer" : "compiled static buffer");
        auto buffer = std::make_unique<r::Buffer>(2, "quad", 1, 0, streamed ? r::BUFFER_STREAM : r::BUFFER_STATIC);
        if (streamed) {
            buffer->allocate();
            buffer->rawSetBufferData(QUAD, sizeof(QUAD));
        } else {
            for (int row = 0; row < 4; ++row) {
                const float* v = QUAD + 5 * row;
                buffer->addRow(0, double(v[0]), double(v[1]), double(v[2]), double(v[3]), double(v[4]));
            }
            buffer->compile();
        }
        auto attribs = std::make_unique<r::ProgramAttribs>(&program, buffer.get());
        attribs->addAttrib("texPos", r::VEC2);
        attribs->addAttrib("vtxPos", r::VEC3);
        attribs->compile();

        ASSERT_TRUE(r::useProgram(&program));
        r::ProgramVar mvp(&program, r::MAT4, "MVP");
        r::ProgramVar sampler(&program, r::SAMPLER2D, "tex0");
        r::ProgramVar windowPos(&program, r::VEC3, "WindowPos");
        mvp.setMat4(glm::ortho(0.0f, float(WIDTH), 0.0f, float(HEIGHT), -1.0f, 1.0f));
        sampler.setInt(1);
        windowPos.setVec3(glm::vec3(16, 16, 0));

        drawStrip(*attribs);

        EXPECT_EQ(std::vector<uint8_t>({255, 0, 0, 255}), pixel(20, 20));
        EXPECT_EQ(std::vector<uint8_t>({0, 255, 0, 255}), pixel(44, 20));
        EXPECT_EQ(std::vector<uint8_t>({0, 0, 255, 255}), pixel(20, 44));
        EXPECT_EQ(std::vector<uint8_t>({255, 255, 255, 255}), pixel(44, 44));
        EXPECT_EQ(std::vector<uint8_t>({0, 0, 0, 255}), pixel(8, 8));
        EXPECT_EQ(std::vector<uint8_t>({0, 0, 0, 255}), pixel(52, 52));
    }
    EXPECT_EQ(std::vector<std::string>(), errors());
    glDeleteTextures(1, &texture);
}

// Each attribute starts where the one before it ends; a matrix takes one location per column.
TEST_F(programTest, AttributesFollowEachOtherInTheRow)
{
    struct column {
        const char* name;
        GLint index; // the matrix column, 0 for a vector
        GLint size;
        uintptr_t offset;
    };
    struct layoutCase {
        const char* program;
        const char* vertex;
        const char* fragment;
        int32_t format;
        std::vector<std::pair<const char*, int32_t>> attribs;
        GLint stride;
        std::vector<column> columns;
    };
    const layoutCase cases[] = {
        {"ui", UI_VERTEX, UI_FRAGMENT, 2, {{"texPos", r::VEC2}, {"vtxPos", r::VEC3}}, 20,
         {{"texPos", 0, 2, 0}, {"vtxPos", 0, 3, 8}}},
        {"mixed", MIXED_VERTEX, MIXED_FRAGMENT, 4, {{"texPos", r::VEC2}, {"model", r::MAT4}, {"vtxPos", r::VEC3}}, 40,
         {{"texPos", 0, 2, 0}, {"model", 0, 4, 8}, {"model", 1, 4, 24}, {"model", 2, 4, 40}, {"model", 3, 4, 56}, {"vtxPos", 0, 3, 72}}},
    };
    for (const layoutCase& c : cases) {
        SCOPED_TRACE(c.program);
        r::Program program(c.program, c.vertex, c.fragment);
        r::Buffer buffer(c.format, "rows", 1, 0, r::BUFFER_STREAM);
        buffer.allocate();
        r::ProgramAttribs attribs(&program, &buffer);
        for (const auto& [name, type] : c.attribs)
            attribs.addAttrib(name, type);
        attribs.compile();
        EXPECT_EQ(std::vector<std::string>(), errors());
        attribs.bind();
        for (const column& col : c.columns) {
            SCOPED_TRACE(std::string(col.name) + " column " + std::to_string(col.index));
            const GLint location = glGetAttribLocation(program.getId(), col.name) + col.index;
            EXPECT_EQ(1, attribParameter(location, GL_VERTEX_ATTRIB_ARRAY_ENABLED));
            EXPECT_EQ(c.stride, attribParameter(location, GL_VERTEX_ATTRIB_ARRAY_STRIDE));
            EXPECT_EQ(col.size, attribParameter(location, GL_VERTEX_ATTRIB_ARRAY_SIZE));
            EXPECT_EQ(col.offset, attribOffset(location));
            EXPECT_EQ(GLint(buffer.getVbo()), attribParameter(location, GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING));
        }
        glBindVertexArray(0);
    }
}

// Attributes are checked by name, so those behind a matrix attribute pass; one removed by the linker or of
// the wrong type is skipped but still counts its bytes.
TEST_F(programTest, AttributeChecks)
{
    r::Program program("mixed", MIXED_VERTEX, MIXED_FRAGMENT);
    const GLint texPos = glGetAttribLocation(program.getId(), "texPos");
    const GLint vtxPos = glGetAttribLocation(program.getId(), "vtxPos");
    ASSERT_NE(0, texPos) << "this driver gives the first attribute its first location";

    r::Buffer buffer(4, "wide", 1, 0, r::BUFFER_STREAM);
    buffer.allocate();
    r::ProgramAttribs attribs(&program, &buffer);
    attribs.addAttrib("unused", r::VEC2);
    attribs.addAttrib("texPos", r::FLOAT);
    attribs.addAttrib("vtxPos", r::VEC3);
    attribs.addAttrib("texPos", r::VEC2);
    attribs.addAttrib("vtxPos", r::VEC2);
    attribs.compile();
    EXPECT_EQ(std::vector<std::string>({
                  "ProgramAttribs::addAtrib() -> 'unused' does not exist in Program 'mixed' - skipping\n",
                  "ProgramAttribs::addAtrib() -> Specified type (FLOAT) for attribute 'texPos' in Program 'mixed' does not match the shaders type (Float Vec2)\n",
                  "ProgramAttribs::addAtrib() -> Specified type (VEC2) for attribute 'vtxPos' in Program 'mixed' does not match the shaders type (Float Vec3)\n",
              }),
              errors());
    attribs.bind();
    EXPECT_EQ(8u + 4u, attribOffset(vtxPos));
    EXPECT_EQ(8u + 4u + 12u, attribOffset(texPos));
    EXPECT_EQ(40, attribParameter(texPos, GL_VERTEX_ATTRIB_ARRAY_STRIDE));
    EXPECT_EQ(1, attribParameter(texPos, GL_VERTEX_ATTRIB_ARRAY_ENABLED));
    glBindVertexArray(0);
}

// A matrix attribute is fed column by column: each column its own location, one after the other in the row.
const char* const MATRIX_VERTEX = R"(#version 120
attribute mat3 frame;
attribute float shade;
varying vec3 colour;
void main()
{
    colour = frame[1] * shade;
    gl_Position = vec4(frame[0].xy * frame[2].x, 0.0, 1.0);
}
)";

const char* const MATRIX_FRAGMENT = R"(#version 120
varying vec3 colour;
void main()
{
    gl_FragColor = vec4(colour, 1.0);
}
)";

// Rows of format 4: a mat3 of position, colour and scale, then the shade. The quad covers the middle half.
TEST_F(programTest, DrawsThroughAMatrixAttribute)
{
    r::Program program("matrix", MATRIX_VERTEX, MATRIX_FRAGMENT);
    r::Buffer buffer(4, "frames", 1, 0, r::BUFFER_STATIC);
    for (const auto& [x, y] : {std::pair{-1.0, -1.0}, {1.0, -1.0}, {-1.0, 1.0}, {1.0, 1.0}})
        buffer.addRow(0, x, y, 0.0, 1.0, 0.0, 1.0, 0.5, 0.0, 0.0, 0.6);
    buffer.compile();
    r::ProgramAttribs attribs(&program, &buffer);
    attribs.addAttrib("frame", r::MAT3);
    attribs.addAttrib("shade", r::FLOAT);
    attribs.compile();
    EXPECT_EQ(std::vector<std::string>(), errors());

    ASSERT_TRUE(r::useProgram(&program));
    drawStrip(attribs);
    EXPECT_EQ(std::vector<uint8_t>({153, 0, 153, 255}), pixel(32, 32));
    EXPECT_EQ(std::vector<uint8_t>({0, 0, 0, 255}), pixel(8, 8));
}

TEST_F(programTest, AttribsCompileOnce)
{
    r::Program program("ui", UI_VERTEX, UI_FRAGMENT);
    r::Buffer buffer(2, "rows", 1, 0, r::BUFFER_STREAM);
    buffer.allocate();
    auto* attribs = new r::ProgramAttribs(&program, &buffer);
    attribs->addAttrib("vtxPos", r::VEC3);
    attribs->compile();
    const GLuint vao = attribs->getVao();
    ASSERT_NE(r::INVALID_ID, vao);
    attribs->compile();
    EXPECT_EQ(std::vector<std::string>({"ProgramAttribs::compile() -> Already Compiled!\n"}), errors());
    EXPECT_EQ(vao, attribs->getVao());
    EXPECT_TRUE(glIsVertexArray(vao));
    delete attribs;
    EXPECT_FALSE(glIsVertexArray(vao));

    // Never compiled: its records go with it (the fixture's leak check).
    auto* pending = new r::ProgramAttribs(&program, &buffer);
    pending->addAttrib("texPos", r::VEC2);
    pending->addAttrib("nothing", r::VEC2);
    delete pending;
}

TEST_F(programTest, AttribsCompileFailures)
{
    r::Program program("ui", UI_VERTEX, UI_FRAGMENT);
    r::Buffer unallocated(2, "unallocated", 1, 0, r::BUFFER_STREAM);
    {
        r::ProgramAttribs attribs(&program, &unallocated);
        attribs.addAttrib("texPos", r::VEC2);
        EXPECT_EQ("ProgramAttribs::compile() -> Failed to bind the asociated VertexBuffer @ GFX-Adapter (associated Program: 'ui')  (GL errno: 1282 / Unknown error)\n",
                  thrownMessage([&] { attribs.compile(); }, true));
        EXPECT_FALSE(glIsBuffer(r::INVALID_ID));
    }
    r::Buffer buffer(2, "rows", 1, 0, r::BUFFER_STREAM);
    buffer.allocate();
    {
        // An unknown type passes the lookup and fails on its size; the records left are still released.
        r::ProgramAttribs attribs(&program, &buffer);
        attribs.addAttrib("texPos", r::VEC2);
        attribs.addAttrib("vtxPos", 9);
        attribs.addAttrib("texPos", r::VEC2);
        EXPECT_EQ("ProgramAttribs, getTypeSpace() 9 is unknown!\n", thrownMessage([&] { attribs.compile(); }, true));
    }
    glBindVertexArray(0);
    EXPECT_EQ(std::vector<std::string>(), errors());
}

TEST(typeSpace, Table)
{
    const struct {
        int32_t type;
        uint32_t bytes;
        GLenum glType;
    } cases[] = {{r::VEC2, 8, GL_FLOAT_VEC2}, {r::VEC3, 12, GL_FLOAT_VEC3}, {r::MAT3, 36, GL_FLOAT_MAT3}, {r::MAT4, 64, GL_FLOAT_MAT4},
                 {r::SAMPLER2D, 4, GL_SAMPLER_2D}, {r::FLOAT, 4, GL_FLOAT}, {r::INT, 4, GL_INT}, {r::UINT, 4, GL_UNSIGNED_INT}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.bytes, r::getTypeSpace(c.type)) << c.type;
        EXPECT_EQ(c.glType, r::glTypeOf(c.type)) << c.type;
    }
    for (int32_t type : {0, 9, -3})
        EXPECT_EQ("ProgramAttribs, getTypeSpace() " + std::to_string(uint32_t(type)) + " is unknown!\n", thrownMessage([&] { r::getTypeSpace(type); }, true));
    EXPECT_STREQ("Sampler Cube", r::glTypeName(GL_SAMPLER_CUBE));
    EXPECT_STREQ("Mat4x3", r::glTypeName(GL_FLOAT_MAT4x3));
    EXPECT_STREQ("Unknown", r::glTypeName(GL_UNSIGNED_INT));
    EXPECT_STREQ("Unknown", r::glTypeName(0));
}

TEST_F(programTest, UniformChecks)
{
    r::Program program("mixed", MIXED_VERTEX, MIXED_FRAGMENT);
    const GLuint id = program.getId();
    const std::string tail = " [ID: " + std::to_string(id) + ", ShaderName: mixed]\n";
    const struct {
        const char* name;
        int32_t type;
        int32_t kept;
        std::string error;
    } cases[] = {
        {"WindowPos", r::VEC3, r::VEC3, ""},
        {"MVP", r::MAT4, r::MAT4, ""},
        {"tex0", r::SAMPLER2D, r::SAMPLER2D, ""},
        {"count", r::INT, r::INT, ""},
        {"scale", r::FLOAT, r::FLOAT, ""},
        {"rot", r::MAT3, r::MAT3, ""},
        {"count", r::UINT, r::UINT, ""},
        {"color", r::VEC3, 0, "ProgramVar(color): Requested Type (VEC3) does'nt match the shader's type, Uniform Type: Float Vec4" + tail},
        {"WindowPos", r::VEC2, 0, "ProgramVar(WindowPos): Requested Type (VEC2) does'nt match the shader's type, Uniform Type: Float Vec3" + tail},
        {"rot", r::MAT4, 0, "ProgramVar(rot): Requested Type (MAT4) doesn't match the shader's type, Uniform Type: Mat3" + tail},
        {"MVP", r::MAT3, 0, "ProgramVar(MVP): Requested Type (MAT3) doesn't match the shader's type, Uniform Type: Mat4" + tail},
        {"count", r::SAMPLER2D, 0, "ProgramVar(count): Requested Type (SAMPLER2D) doesn't match the shader's type, Uniform Type: Int" + tail},
        {"count", r::FLOAT, 0, "ProgramVar(count): Requested Type (FLOAT) doesn't match the shader's type, Uniform Type: Int" + tail},
        {"scale", r::INT, 0, "ProgramVar(scale): Requested Type (INT) doesn't match the shader's type, Uniform Type: Float" + tail},
        // At location -1 there is no uniform whose type could be asked for.
        {"missing", r::VEC3, 0, "ProgramVar(missing): get uniform type, Uniform Type: Unknown" + tail},
    };
    for (const auto& c : cases) {
        captured.clear();
        r::ProgramVar var(&program, c.type, c.name);
        EXPECT_EQ(c.kept, var.getType()) << c.name << " " << c.type;
        EXPECT_EQ(c.error.empty() ? std::vector<std::string>() : std::vector<std::string>({c.error}), errors());
    }

    // Only a failing location lookup is the missing variable: a program the driver no longer knows.
    {
        r::Program gone("gone", UI_VERTEX, UI_FRAGMENT);
        glDeleteProgram(gone.getId());
        captured.clear();
        r::ProgramVar var(&gone, r::VEC3, "WindowPos");
        EXPECT_EQ(0, var.getType());
        EXPECT_EQ(std::vector<std::string>({"ProgramVar(WindowPos): get uniform location (Var is Missing in Shader), Uniform Type: Unknown [ID: " +
                                            std::to_string(gone.getId()) + ", ShaderName: gone]\n"}),
                  errors());
    }
    // Its own delete of the vanished name only sets an error.
    while (glGetError() != GL_NO_ERROR) {
    }
}

// Each setter acts only on a handle of its own type, and an inert handle sets nothing.
TEST_F(programTest, UniformSetters)
{
    r::Program program("mixed", MIXED_VERTEX, MIXED_FRAGMENT);
    const GLuint id = program.getId();
    ASSERT_TRUE(r::useProgram(&program));
    GLint current = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(GLint(id), current);

    r::ProgramVar windowPos(&program, r::VEC3, "WindowPos");
    r::ProgramVar asVec3(&program, r::VEC3, "color");
    r::ProgramVar mvp(&program, r::MAT4, "MVP");
    r::ProgramVar count(&program, r::INT, "count");
    r::ProgramVar sampler(&program, r::SAMPLER2D, "tex0");
    windowPos.setVec3(glm::vec3(1, 2, 3));
    asVec3.setVec3(glm::vec3(4, 5, 6));
    const glm::mat4 matrix = glm::translate(glm::mat4(1.0f), glm::vec3(7, 8, 9));
    mvp.setMat4(matrix);
    count.setInt(5);
    sampler.setInt(3);
    // Setters of other types on the same handles change nothing.
    windowPos.setInt(9);
    mvp.setVec3(glm::vec3(9, 9, 9));
    sampler.setMat4(glm::mat4(2.0f));

    float values[16] = {};
    glGetUniformfv(id, glGetUniformLocation(id, "WindowPos"), values);
    EXPECT_EQ(std::vector<float>({1, 2, 3}), std::vector<float>(values, values + 3));
    glGetUniformfv(id, glGetUniformLocation(id, "color"), values);
    EXPECT_EQ(std::vector<float>({0, 0, 0, 0}), std::vector<float>(values, values + 4));
    glGetUniformfv(id, glGetUniformLocation(id, "MVP"), values);
    EXPECT_EQ(std::vector<float>(glm::value_ptr(matrix), glm::value_ptr(matrix) + 16), std::vector<float>(values, values + 16));
    GLint integer = -1;
    glGetUniformiv(id, glGetUniformLocation(id, "count"), &integer);
    EXPECT_EQ(0, integer);
    glGetUniformiv(id, glGetUniformLocation(id, "tex0"), &integer);
    EXPECT_EQ(3, integer);
    glUseProgram(0);
    EXPECT_FALSE(r::useProgram(nullptr));
}

// An error after glUseProgram is logged; the call still counts as made.
TEST_F(programTest, UseProgramReportsErrors)
{
    auto program = std::make_unique<r::Program>("ui", UI_VERTEX, UI_FRAGMENT);
    glDeleteProgram(program->getId());
    EXPECT_TRUE(r::useProgram(program.get()));
    EXPECT_EQ(std::vector<std::string>({"r::useProgramm - error 1281 / Unknown error\n"}), errors());
    // Its own delete of the vanished name only sets an error.
    program.reset();
    while (glGetError() != GL_NO_ERROR) {
    }
}

// A failed build: the stage, the code and the three logs, each under its own heading.
struct reportParts {
    std::string head, fragmentLog, vertexLog, programLog, end;
};

reportParts splitReport(const std::string& report)
{
    reportParts parts;
    const size_t fragment = report.find("GL Fragment Shader Log:\n");
    const size_t vertex = report.find("GL Vertex Shader Log:\n");
    const size_t program = report.find("GL Program Log:\n");
    const std::string separator = "== == == == == == == == == == == == == == == == == ==\n";
    if (fragment == std::string::npos || vertex < fragment || program < vertex || report.size() < separator.size()) {
        ADD_FAILURE() << report;
        return parts;
    }
    parts.head = report.substr(0, fragment);
    parts.fragmentLog = report.substr(fragment + 24, vertex - fragment - 24);
    parts.vertexLog = report.substr(vertex + 22, program - vertex - 22);
    parts.programLog = report.substr(program + 16, report.size() - separator.size() - program - 16);
    parts.end = report.substr(report.size() - separator.size());
    return parts;
}

TEST_F(programTest, FailedBuildReports)
{
    const std::string separator = "== == == == == == == == == == == == == == == == == ==\n";
    const std::string linkCheck = "Error in Stage 'Link (check)'\nOpenGL errno 1282 (Unknown error)\n";
    const char* const noMain = "#version 120\nvoid helper() {}\n";
    const char* const badFragment = "#version 120\nvoid main() { gl_FragColor = vec4(1.0) +; }\n";
    const char* const badVertex = "#version 120\nvoid main() { gl_Position = undefinedThing; }\n";
    // The driver quotes the offending token, a percent sign that must reach the report as it is.
    const char* const percentFragment = "#version 120\nvoid main() { gl_FragColor = vec4(1.0) % 2.0; }\n";
    const int before = liveObjects();

    reportParts parts = splitReport(thrownMessage([&] { r::Program("brokenFragment", UI_VERTEX, badFragment); }, false));
    EXPECT_EQ(separator + "Loading of Shader 'brokenFragment' failed.\n" + linkCheck, parts.head);
    EXPECT_NE(std::string::npos, parts.fragmentLog.find("error")) << parts.fragmentLog;
    EXPECT_EQ(std::string::npos, parts.vertexLog.find("error")) << parts.vertexLog;
    EXPECT_EQ(separator, parts.end);

    parts = splitReport(thrownMessage([&] { r::Program("brokenVertex", badVertex, UI_FRAGMENT); }, false));
    EXPECT_EQ(separator + "Loading of Shader 'brokenVertex' failed.\n" + linkCheck, parts.head);
    EXPECT_NE(std::string::npos, parts.vertexLog.find("undefinedThing")) << parts.vertexLog;
    EXPECT_EQ(std::string::npos, parts.fragmentLog.find("error")) << parts.fragmentLog;

    // Both compile; only the link fails.
    parts = splitReport(thrownMessage([&] { r::Program("noMain", noMain, UI_FRAGMENT); }, false));
    EXPECT_EQ(separator + "Loading of Shader 'noMain' failed.\n" + linkCheck, parts.head);
    EXPECT_EQ(std::string::npos, parts.vertexLog.find("error")) << parts.vertexLog;
    EXPECT_NE(std::string::npos, parts.programLog.find("main")) << parts.programLog;

    parts = splitReport(thrownMessage([&] { r::Program("percent", UI_VERTEX, percentFragment); }, false));
    EXPECT_NE(std::string::npos, parts.fragmentLog.find('%')) << parts.fragmentLog;

    EXPECT_EQ(before, liveObjects());
    EXPECT_EQ(std::vector<std::string>(), errors());
}

// The shaders are deleted with their program, not left behind.
TEST_F(programTest, ProgramOwnsItsShaders)
{
    const int before = liveObjects();
    auto* program = new r::Program("ui", UI_VERTEX, UI_FRAGMENT);
    EXPECT_STREQ("ui", program->getName());
    GLuint shaders[4] = {};
    GLsizei count = 0;
    glGetAttachedShaders(program->getId(), 4, &count, shaders);
    EXPECT_EQ(2, count);
    delete program;
    for (GLsizei i = 0; i < count; ++i)
        EXPECT_FALSE(glIsShader(shaders[i])) << shaders[i];
    EXPECT_EQ(before, liveObjects());
}

TEST_F(programTest, ProgramFromContentFiles)
{
    vfs::fileDataINFO* vertex = addFile("data/shader/ui.vertex.glsl", UI_VERTEX);
    vfs::fileDataINFO* fragment = addFile("data/shader/ui.fragment.glsl", UI_FRAGMENT);
    {
        r::Program program("ui");
        EXPECT_STREQ("ui", program.getName());
        EXPECT_NE(r::INVALID_ID, program.getId());
        r::ProgramVar mvp(&program, r::MAT4, "MVP");
        EXPECT_EQ(r::MAT4, mvp.getType());
    }
    EXPECT_EQ(0u, vertex->refCount);
    EXPECT_EQ(0u, fragment->refCount);

    vfs::fileDataINFO* broken = addFile("data/shader/broken.fragment.glsl", "#version 120\nvoid main() { nope }\n");
    vfs::fileDataINFO* fine = addFile("data/shader/broken.vertex.glsl", UI_VERTEX);
    EXPECT_EQ(0u, thrownMessage([&] { r::Program program("broken"); }, false).find("== == == == == == == == == == == == == == == == == ==\nLoading of Shader 'broken' failed.\n"));
    EXPECT_EQ(0u, broken->refCount);
    EXPECT_EQ(0u, fine->refCount);

    EXPECT_EQ("Program::Program(absent): fragment shader does not exist\n", thrownMessage([&] { r::Program program("absent"); }, false));
    vfs::fileDataINFO* lonely = addFile("data/shader/half.fragment.glsl", UI_FRAGMENT);
    EXPECT_EQ("Program::Program(half): vertex shader does not exist\n", thrownMessage([&] { r::Program program("half"); }, false));
    EXPECT_EQ(0u, lonely->refCount);
}

} // namespace
