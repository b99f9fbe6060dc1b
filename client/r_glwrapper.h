#pragma once
// What the renderer's OpenGL wrappers share: the extension loader's declarations, the id of an object that
// does not exist yet, error texts, and the value types of shader attributes and uniforms.
#include <GL/glew.h>

#include <cstdint>

namespace tavrix::r {

// An OpenGL object that was never created: all bits but the lowest set.
constexpr GLuint INVALID_ID = GLuint(-2);

// Value types of attributes and uniforms; 0 marks an unusable uniform.
enum rType : int32_t {
    VEC2 = 1,
    VEC3 = 2,
    MAT3 = 3,
    MAT4 = 4,
    SAMPLER2D = 5,
    FLOAT = 6,
    INT = 7,
    UINT = 8,
};

// Bytes a value of the type occupies; fatal for a type outside 1 to 8.
uint32_t getTypeSpace(int32_t type);
// The OpenGL type a value type must match, 0 outside 1 to 8.
GLenum glTypeOf(int32_t type);
// The OpenGL type's name in messages, "Unknown" for anything unnamed.
const char* glTypeName(GLenum type);

// The type of the program's active attribute or uniform of that name (an array uniform also by its name
// without "[0]"). False on an OpenGL error or when no active one has the name. Active indices are not
// locations, so the lookup goes by name.
bool getActiveAttribType(GLuint program, const char* name, GLenum* type);
bool getActiveUniformType(GLuint program, const char* name, GLenum* type);

// Every checked sequence starts from a clean error state.
void clearErrors();
// The extension loader's text for an error code.
const char* errorText(GLenum code);

} // namespace tavrix::r

