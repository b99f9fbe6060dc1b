#include "client/r_programvar.h"

#include <glm/gtc/type_ptr.hpp>

#include "client/clientlogger.h"

namespace tavrix::r {

namespace {

// Indexed by rType; UINT and beyond are not checked.
const char* const TYPE_MISMATCH[] = {
    nullptr,
    "Requested Type (VEC2) does'nt match the shader's type",
    "Requested Type (VEC3) does'nt match the shader's type",
    "Requested Type (MAT3) doesn't match the shader's type",
    "Requested Type (MAT4) doesn't match the shader's type",
    "Requested Type (SAMPLER2D) doesn't match the shader's type",
    "Requested Type (FLOAT) doesn't match the shader's type",
    "Requested Type (INT) doesn't match the shader's type",
};

} // namespace

ProgramVar::ProgramVar(Program* program_, int32_t type_, const char* name) : program(program_), type(type_), location(-1)
{
    const char* reason = nullptr;
    GLenum shaderType = 0;
    clearErrors();
    location = glGetUniformLocation(program->getId(), name);
    if (glGetError() != GL_NO_ERROR)
        reason = "get uniform location (Var is Missing in Shader)";
    // Nothing active answers at location -1, so its type cannot be had.
    else if (location == -1 || !getActiveUniformType(program->getId(), name, &shaderType))
        reason = "get uniform type";
    else if (type >= VEC2 && type <= INT && shaderType != glTypeOf(type))
        reason = TYPE_MISMATCH[type];
    if (reason) {
        CLIENT_LOG(util::LOG_ERROR, "ProgramVar(%s): %s, Uniform Type: %s [ID: %u, ShaderName: %s]\n", name, reason, glTypeName(shaderType), program->getId(), program->getName());
        type = 0;
    }
}

void ProgramVar::setMat4(const glm::mat4& matrix)
{
    if (type == MAT4)
        glUniformMatrix4fv(location, 1, GL_FALSE, glm::value_ptr(matrix));
}

void ProgramVar::setInt(int32_t value)
{
    if (type == SAMPLER2D)
        glUniform1i(location, value);
}

void ProgramVar::setVec3(const glm::vec3& vector)
{
    if (type == VEC3)
        glUniform3fv(location, 1, glm::value_ptr(vector));
}

} // namespace tavrix::r
