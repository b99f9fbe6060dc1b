#include "client/r_programattribs.h"

#include <cstdint>

#include "client/clientlogger.h"
#include "platformlib/util/exception.h"

namespace tavrix::r {

namespace {

// Indexed by rType.
const char* const TYPE_MISMATCH[] = {
    nullptr,
    "ProgramAttribs::addAtrib() -> Specified type (VEC2) for attribute '%s' in Program '%s' does not match the shaders type (%s)\n",
    "ProgramAttribs::addAtrib() -> Specified type (VEC3) for attribute '%s' in Program '%s' does not match the shaders type (%s)\n",
    "ProgramAttribs::addAtrib() -> Specified type (MAT3) for attribute '%s' in Program '%s' does not match the shaders type (%s)\n",
    "ProgramAttribs::addAtrib() -> Specified type (MAT4) for attribute '%s' in Program '%s' does not match the shaders type (%s)\n",
    "ProgramAttribs::addAtrib() -> Specified type (SAMPLER2D) for attribute '%s' in Program '%s' does not match the shaders type (%s)\n",
    "ProgramAttribs::addAtrib() -> Specified type (FLOAT) for attribute '%s' in Program '%s' does not match the shaders type (%s)\n",
    "ProgramAttribs::addAtrib() -> Specified type (INT) for attribute '%s' in Program '%s' does not match the shaders type (%s)\n",
    "ProgramAttribs::addAtrib() -> Specified type (UINT) for attribute '%s' in Program '%s' does not match the shaders type (%s)\n",
};

// A matrix attribute takes one location per column, each column a vector of the matrix's order.
uint32_t columnsOf(int32_t type)
{
    if (type == MAT3)
        return 3;
    if (type == MAT4)
        return 4;
    return 1;
}

} // namespace

ProgramAttribs::ProgramAttribs(Program* program_, Buffer* buffer_)
    : vao(INVALID_ID), program(program_), buffer(buffer_), head(nullptr), tail(nullptr)
{
}

ProgramAttribs::~ProgramAttribs()
{
    while (attribute* a = head) {
        head = a->next;
        rofree(a->name);
        rofree(a);
    }
    if (vao != INVALID_ID)
        glDeleteVertexArrays(1, &vao);
}

bool ProgramAttribs::checkAttrib(const char* name, int32_t type, GLint* location)
{
    clearErrors();
    *location = glGetAttribLocation(program->getId(), name);
    if (glGetError() != GL_NO_ERROR || *location == -1) {
        CLIENT_LOG(util::LOG_ERROR, "ProgramAttribs::addAtrib() -> '%s' does not exist in Program '%s' - skipping\n", name, program->getName());
        return false;
    }
    GLenum shaderType = 0;
    if (!getActiveAttribType(program->getId(), name, &shaderType)) {
        CLIENT_LOG(util::LOG_ERROR, "ProgramAttribs::addAtrib() -> cannot get information about attribute '%s' in Program '%s' - skipping\n", name, program->getName());
        return false;
    }
    // Other types are refused by compile.
    if (type >= VEC2 && type <= UINT && shaderType != glTypeOf(type)) {
        CLIENT_LOG(util::LOG_ERROR, TYPE_MISMATCH[type], name, program->getName(), glTypeName(shaderType));
        return false;
    }
    return true;
}

void ProgramAttribs::addAttrib(const char* name, int32_t type)
{
    GLint location = -1;
    const bool usable = checkAttrib(name, type, &location);
    auto* a = static_cast<attribute*>(roalloc(sizeof(attribute)));
    a->next = nullptr;
    a->name = rostrdup(name);
    a->location = usable ? location : -1;
    a->type = type;
    a->skipped = usable ? 0 : 1;
    if (tail)
        tail->next = a;
    else
        head = a;
    tail = a;
}

void ProgramAttribs::compile()
{
    if (vao != INVALID_ID) {
        CLIENT_LOG(util::LOG_ERROR, "ProgramAttribs::compile() -> Already Compiled!\n");
        return;
    }
    const char* programName = program->getName();
    clearErrors();
    glGenVertexArrays(1, &vao);
    if (GLenum error = glGetError())
        TAVRIX_FATAL("ProgramAttribs::compile() -> Failed to Create a new VertexArray @ GFX-Adapter (associated Program: '%s')  (GL errno: %u / %s)\n", programName, error, errorText(error));
    glBindVertexArray(vao);
    if (GLenum error = glGetError())
        TAVRIX_FATAL("ProgramAttribs::compile() -> Failed to bind the VertexArray @ GFX-Adapter (associated Program: '%s')  (GL errno: %u / %s)\n", programName, error, errorText(error));
    // A buffer without an object would be bound as a new, empty one.
    GLenum bindError = GL_INVALID_OPERATION;
    if (buffer->getVbo() != INVALID_ID) {
        glBindBuffer(GL_ARRAY_BUFFER, buffer->getVbo());
        bindError = glGetError();
    }
    if (GLenum error = bindError)
        TAVRIX_FATAL("ProgramAttribs::compile() -> Failed to bind the asociated VertexBuffer @ GFX-Adapter (associated Program: '%s')  (GL errno: %u / %s)\n", programName, error, errorText(error));

    const GLsizei stride = GLsizei(buffer->getRowSize());
    uintptr_t offset = 0;
    // Each record goes once described, so a failure leaves the rest to the destructor.
    while (attribute* a = head) {
        const uint32_t size = getTypeSpace(a->type);
        if (!a->skipped) {
            const uint32_t columns = columnsOf(a->type);
            const uint32_t columnSize = size / columns;
            for (uint32_t column = 0; column < columns; ++column) {
                const GLuint location = GLuint(a->location) + column;
                glEnableVertexAttribArray(location);
                if (GLenum error = glGetError())
                    TAVRIX_FATAL("ProgramAttribs::compile() -> Failed enable Vertex Attribute '%s' @ GFX-Adapter (associated Program: '%s')  (GL errno: %u / %s)\n", a->name, programName, error, errorText(error));
                glVertexAttribPointer(location, GLint(columnSize / 4), GL_FLOAT, GL_FALSE, stride, reinterpret_cast<const void*>(offset + column * columnSize));
                if (GLenum error = glGetError())
                    TAVRIX_FATAL("ProgramAttribs::compile() -> Failed to Describe Vertex Attribute '%s' @ GFX-Adapter (associated Program: '%s')  (GL errno: %u / %s)\n", a->name, programName, error, errorText(error));
            }
        }
        offset += size;
        head = a->next;
        rofree(a->name);
        rofree(a);
    }
    tail = nullptr;
    glBindVertexArray(0);
}

void ProgramAttribs::bind() { glBindVertexArray(vao); }

} // namespace tavrix::r
