#include "client/r_program.h"

#include <GLFW/glfw3.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "client/clientlogger.h"
#include "client/vfs.h"
#include "platformlib/allocator/roalloc.h"
#include "platformlib/util/exception.h"

namespace tavrix::r {

namespace {

// The objects of one build, -2 until created.
struct buildState {
    const char* vertexSource;
    GLint vertexLength;
    const char* fragmentSource;
    GLint fragmentLength;
    GLuint fragment;
    GLuint vertex;
    GLuint program;
};

struct buildStage {
    const char* name;
    // The stage's error code, 0 when it succeeded.
    GLenum (*run)(buildState& state);
};

GLenum compileShader(GLuint shader, const char* source, GLint length)
{
    glShaderSource(shader, 1, &source, &length);
    glCompileShader(shader);
    return glGetError();
}

// A shader that does not compile surfaces at the link check, with its log in the report.
const buildStage STAGES[] = {
    {"Fragment Shader Creation",
     [](buildState& s) {
         s.fragment = glCreateShader(GL_FRAGMENT_SHADER);
         return glGetError();
     }},
    {"Vertex Shader Creation",
     [](buildState& s) {
         s.vertex = glCreateShader(GL_VERTEX_SHADER);
         return glGetError();
     }},
    {"Program Creation",
     [](buildState& s) {
         s.program = glCreateProgram();
         return glGetError();
     }},
    {"Compile Fragment Shader", [](buildState& s) { return compileShader(s.fragment, s.fragmentSource, s.fragmentLength); }},
    {"Compile Vertex Shader", [](buildState& s) { return compileShader(s.vertex, s.vertexSource, s.vertexLength); }},
    {"Attach Fragment Shader to Program",
     [](buildState& s) {
         glAttachShader(s.program, s.fragment);
         return glGetError();
     }},
    {"Attach Vertex Shader to Program",
     [](buildState& s) {
         glAttachShader(s.program, s.vertex);
         return glGetError();
     }},
    {"Link",
     [](buildState& s) {
         glLinkProgram(s.program);
         return glGetError();
     }},
    {"Link (check)",
     [](buildState& s) {
         GLint status = 0;
         glGetProgramiv(s.program, GL_LINK_STATUS, &status);
         const GLenum error = glGetError();
         if (error != GL_NO_ERROR)
             return error;
         return status == 1 ? GLenum(GL_NO_ERROR) : GLenum(GL_INVALID_OPERATION);
     }},
};

bool created(GLuint id) { return id != INVALID_ID && id != 0; }

// The failure report, each piece cut to the room left.
class report {
public:
    report() : used(0) { text[0] = '\0'; }

    void append(const char* format, ...) __attribute__((format(printf, 2, 3)))
    {
        va_list args;
        va_start(args, format);
        const int written = std::vsnprintf(text + used, sizeof(text) - used, format, args);
        va_end(args);
        if (written > 0)
            used = std::min(sizeof(text) - 1, used + size_t(written));
    }
    void appendShaderLog(GLuint shader)
    {
        if (created(shader))
            appendLog(glGetShaderInfoLog, shader);
    }
    void appendProgramLog(GLuint program)
    {
        if (created(program))
            appendLog(glGetProgramInfoLog, program);
    }
    const char* get() const { return text; }

private:
    template <typename infoLog> void appendLog(infoLog read, GLuint id)
    {
        GLsizei written = 0;
        read(id, GLsizei(sizeof(text) - used), &written, text + used);
        if (written > 0)
            used = std::min(sizeof(text) - 1, used + size_t(written));
        text[used] = '\0';
    }

    char text[16384];
    size_t used;
};

constexpr const char* SEPARATOR = "== == == == == == == == == == == == == == == == == ==\n";

[[noreturn]] void failBuild(const char* name, const char* stage, GLenum error, const buildState& state)
{
    report text;
    text.append("%s", SEPARATOR);
    text.append("Loading of Shader '%s' failed.\n", name);
    text.append("Error in Stage '%s'\n", stage);
    text.append("OpenGL errno %u (%s)\n", error, errorText(error));
    text.append("GL Fragment Shader Log:\n");
    text.appendShaderLog(state.fragment);
    text.append("GL Vertex Shader Log:\n");
    text.appendShaderLog(state.vertex);
    text.append("GL Program Log:\n");
    text.appendProgramLog(state.program);
    text.append("%s", SEPARATOR);
    if (created(state.fragment))
        glDeleteShader(state.fragment);
    if (created(state.vertex))
        glDeleteShader(state.vertex);
    if (created(state.program))
        glDeleteProgram(state.program);
    throw new util::Exception("%s", text.get());
}

} // namespace

Program::Program(const char* name_, const char* vertexSource, const char* fragmentSource)
    : name(nullptr), program(INVALID_ID)
{
    load(name_, vertexSource, uint32_t(std::strlen(vertexSource)), fragmentSource, uint32_t(std::strlen(fragmentSource)));
}

Program::Program(const char* name_) : name(nullptr), program(INVALID_ID)
{
    char fragmentPath[256];
    char vertexPath[256];
    std::snprintf(fragmentPath, sizeof(fragmentPath), "data/shader/%s.fragment.glsl", name_);
    std::snprintf(vertexPath, sizeof(vertexPath), "data/shader/%s.vertex.glsl", name_);
    uint32_t fragmentSize = 0;
    uint32_t vertexSize = 0;
    void* fragment = vfs::readFile(fragmentPath, &fragmentSize);
    if (!fragment)
        throw new util::Exception("Program::Program(%s): fragment shader does not exist\n", name_);
    void* vertex = vfs::readFile(vertexPath, &vertexSize);
    if (!vertex) {
        vfs::releaseFile(fragment);
        throw new util::Exception("Program::Program(%s): vertex shader does not exist\n", name_);
    }
    try {
        load(name_, static_cast<const char*>(vertex), vertexSize, static_cast<const char*>(fragment), fragmentSize);
    } catch (...) {
        vfs::releaseFile(fragment);
        vfs::releaseFile(vertex);
        throw;
    }
    vfs::releaseFile(fragment);
    vfs::releaseFile(vertex);
}

Program::~Program()
{
    rofree(name);
    glDeleteProgram(program);
}

void Program::load(const char* name_, const char* vertexSource, uint32_t vertexLength, const char* fragmentSource,
                   uint32_t fragmentLength)
{
    const double start = glfwGetTime();
    clearErrors();
    buildState state = {vertexSource,     GLint(vertexLength), fragmentSource, GLint(fragmentLength),
                        INVALID_ID,       INVALID_ID,          INVALID_ID};
    for (const buildStage& stage : STAGES) {
        if (GLenum error = stage.run(state))
            failBuild(name_, stage.name, error, state);
    }
    // Flagged for deletion, the shaders stay attached and go with the program.
    glDeleteShader(state.fragment);
    glDeleteShader(state.vertex);
    program = state.program;
    name = rostrdup(name_);
    CLIENT_LOG(util::LOG_INFO, "new Program: loaded Shader '%s' in %0.5f Seconds\n", name, glfwGetTime() - start);
}

bool useProgram(const Program* program)
{
    if (!program || program->getId() == INVALID_ID)
        return false;
    clearErrors();
    glUseProgram(program->getId());
    if (GLenum error = glGetError())
        CLIENT_LOG(util::LOG_ERROR, "r::useProgramm - error %u / %s\n", error, errorText(error));
    return true;
}

} // namespace tavrix::r
