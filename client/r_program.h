#pragma once
// A linked GLSL program of one vertex and one fragment shader, from two texts in memory or from the content
// files data/shader/<name>.vertex.glsl and data/shader/<name>.fragment.glsl. Every failure throws a
// tavrix::util::Exception; a failed build leaves no OpenGL object behind.
#include <cstdint>

#include "client/r_glwrapper.h"

namespace tavrix::r {

class Program {
public:
    // Two NUL-terminated sources.
    Program(const char* name, const char* vertexSource, const char* fragmentSource);
    // Both shaders from the content store.
    explicit Program(const char* name);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    const char* getName() const { return name; }
    GLuint getId() const { return program; }

private:
    void load(const char* name, const char* vertexSource, uint32_t vertexLength, const char* fragmentSource,
              uint32_t fragmentLength);

    char* name;
    GLuint program;
};

// False, doing nothing, for a program that does not exist.
bool useProgram(const Program* program);

} // namespace tavrix::r
