#include "client/r_glwrapper.h"

#include <cstring>

#include "platformlib/util/exception.h"

namespace tavrix::r {

namespace {

bool nameMatches(const char* active, GLsizei length, const char* name)
{
    const size_t wanted = std::strlen(name);
    if (size_t(length) == wanted)
        return std::memcmp(active, name, wanted) == 0;
    return size_t(length) == wanted + 3 && std::memcmp(active, name, wanted) == 0 && std::memcmp(active + wanted, "[0]", 3) == 0;
}

// glGetActiveAttrib and glGetActiveUniform share this signature.
bool findActiveType(PFNGLGETACTIVEATTRIBPROC query, GLenum countName, GLuint program, const char* name, GLenum* type)
{
    GLint count = 0;
    glGetProgramiv(program, countName, &count);
    if (glGetError() != GL_NO_ERROR)
        return false;
    for (GLint index = 0; index < count; ++index) {
        char active[256];
        GLsizei length = 0;
        GLint size = 0;
        GLenum found = 0;
        query(program, GLuint(index), GLsizei(sizeof(active)), &length, &size, &found, active);
        if (glGetError() != GL_NO_ERROR)
            return false;
        if (nameMatches(active, length, name)) {
            *type = found;
            return true;
        }
    }
    return false;
}

} // namespace

bool getActiveAttribType(GLuint program, const char* name, GLenum* type)
{
    return findActiveType(glGetActiveAttrib, GL_ACTIVE_ATTRIBUTES, program, name, type);
}

bool getActiveUniformType(GLuint program, const char* name, GLenum* type)
{
    return findActiveType(glGetActiveUniform, GL_ACTIVE_UNIFORMS, program, name, type);
}

uint32_t getTypeSpace(int32_t type)
{
    switch (type) {
    case VEC2:
        return 8;
    case VEC3:
        return 12;
    case MAT3:
        return 36;
    case MAT4:
        return 64;
    case SAMPLER2D:
    case FLOAT:
    case INT:
    case UINT:
        return 4;
    default:
        TAVRIX_FATAL("ProgramAttribs, getTypeSpace() %u is unknown!\n", uint32_t(type));
    }
}

GLenum glTypeOf(int32_t type)
{
    switch (type) {
    case VEC2:
        return GL_FLOAT_VEC2;
    case VEC3:
        return GL_FLOAT_VEC3;
    case MAT3:
        return GL_FLOAT_MAT3;
    case MAT4:
        return GL_FLOAT_MAT4;
    case SAMPLER2D:
        return GL_SAMPLER_2D;
    case FLOAT:
        return GL_FLOAT;
    case INT:
        return GL_INT;
    case UINT:
        return GL_UNSIGNED_INT;
    default:
        return 0;
    }
}

const char* glTypeName(GLenum type)
{
    switch (type) {
    case GL_INT:
        return "Int";
    case GL_FLOAT:
        return "Float";
    case GL_FLOAT_VEC2:
        return "Float Vec2";
    case GL_FLOAT_VEC3:
        return "Float Vec3";
    case GL_FLOAT_VEC4:
        return "Float Vec4";
    case GL_INT_VEC2:
        return "Int Vec2";
    case GL_INT_VEC3:
        return "Int Vec3";
    case GL_INT_VEC4:
        return "Int Vec4";
    case GL_BOOL:
        return "Bool";
    case GL_BOOL_VEC2:
        return "Bool Vec2";
    case GL_BOOL_VEC3:
        return "Bool Vec3";
    case GL_BOOL_VEC4:
        return "Bool Vec4";
    case GL_FLOAT_MAT2:
        return "Mat2";
    case GL_FLOAT_MAT3:
        return "Mat3";
    case GL_FLOAT_MAT4:
        return "Mat4";
    case GL_SAMPLER_1D:
        return "Sampler1D";
    case GL_SAMPLER_2D:
        return "Sampler2D";
    case GL_SAMPLER_3D:
        return "Sampler3D";
    case GL_SAMPLER_CUBE:
        return "Sampler Cube";
    case GL_SAMPLER_1D_SHADOW:
        return "Sampler1D Shadow";
    case GL_SAMPLER_2D_SHADOW:
        return "Sampler2D Shadow";
    case GL_FLOAT_MAT2x3:
        return "Mat2x3";
    case GL_FLOAT_MAT2x4:
        return "Mat2x4";
    case GL_FLOAT_MAT3x2:
        return "Mat3x2";
    case GL_FLOAT_MAT3x4:
        return "Mat3x4";
    case GL_FLOAT_MAT4x2:
        return "Mat4x2";
    case GL_FLOAT_MAT4x3:
        return "Mat4x3";
    default:
        return "Unknown";
    }
}

void clearErrors()
{
    // One read clears one flag and a driver may hold several; bounded, since without a current context
    // some drivers report an error on every read.
    for (int i = 0; i < 32 && glGetError() != GL_NO_ERROR; ++i) {
    }
}

const char* errorText(GLenum code) { return reinterpret_cast<const char*>(glewGetErrorString(code)); }

} // namespace tavrix::r
